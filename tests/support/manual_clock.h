// A clock that moves only when its owner moves it. Left alone it stands still, so a decoder
// call on it never runs out of patience and ends by its stream alone.
#pragma once
#include <cstdint>

#include "clock.h"

class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint32_t start = 0) : now_(start) {}
  uint32_t milliseconds() override { return now_; }
  void advance(uint32_t milliseconds) { now_ += milliseconds; }  // wraps like the tick count

 private:
  uint32_t now_;
};
