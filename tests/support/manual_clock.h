// A clock that moves only when its owner moves it. Left alone it stands still, so a decoder
// call on it never runs out of patience and ends by its stream alone. A link's stream thread
// may move it while the test reads it, hence atomic.
#pragma once
#include <atomic>
#include <cstdint>

#include "clock.h"

class ManualClock final : public Clock {
 public:
  ManualClock() = default;
  explicit ManualClock(uint32_t start) : now_(start) {}
  ManualClock(const ManualClock& other) : now_(other.now_.load()) {}
  ManualClock& operator=(const ManualClock& other) {
    now_ = other.now_.load();
    return *this;
  }
  uint32_t milliseconds() override { return now_; }
  void advance(uint32_t milliseconds) { now_ += milliseconds; }  // wraps like the tick count

 private:
  std::atomic<uint32_t> now_{0};
};
