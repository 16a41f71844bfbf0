#include "frame_stats.h"

#include <cstdint>
#include <cstdio>

const char* FrameStats::frameCompleted(uint32_t now) {
  uint32_t elapsed = now - lastTick_;
  lastTick_ = now;
  if (++frameCounter_ < 10) return nullptr;
  // Two frames within one tick of the clock leave no interval to divide by: the title then
  // shows the rate of the shortest measurable interval, 1 ms.
  int32_t framesPerSecond = elapsed == 0 ? 1000 : static_cast<int32_t>(1000 / elapsed);
  // A long stretch of junk between frames must not wrap the figure round to a negative one.
  uint64_t meanBytes = byteCounter_ / 10;
  int32_t bytesPerFrame = meanBytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(meanBytes);
  std::snprintf(title_, sizeof title_, "KESTRAVU [%d frames/sec] [%d bytes/frame]", framesPerSecond,
                bytesPerFrame);
  byteCounter_ = 0;
  frameCounter_ = 0;
  return title_;
}
