// The millisecond clock that paces the statistics and bounds a decode call. A program passes its
// own (the Windows program the system tick count); tests pass a clock they move by hand.
#pragma once
#include <chrono>
#include <cstdint>

class Clock {
 public:
  // Milliseconds since some fixed moment; wraps around at 2^32 like the system tick count.
  virtual uint32_t milliseconds() = 0;

 protected:
  ~Clock() = default;
};

// A monotonic clock for programs that have no tick count of their own.
class SteadyClock final : public Clock {
 public:
  uint32_t milliseconds() override {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
};
