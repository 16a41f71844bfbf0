// Frame rate and stream bytes per frame, reported in the window title every tenth frame.
#pragma once
#include <cstdint>

namespace FrameStats {

struct StatsState {
  int32_t frameCounter = 0;  // 0 ... 9
  uint32_t lastTick = 0;     // millisecond tick at the previous completed frame (wraps)
  char title[96] = {};
};

extern StatsState statsState;

// Milliseconds from the system's tick count: GetTickCount on Windows, a monotonic clock elsewhere.
uint32_t tickCount();

// Counts a completed frame at tick `now`; on every tenth frame returns the new window title,
// otherwise nullptr. The rate is that of the last interval only; the bytes are the group's mean.
const char* frameCompletedAt(uint32_t now);

inline const char* frameCompleted() { return frameCompletedAt(tickCount()); }

}  // namespace FrameStats
