#include "frame_stats.h"

#include <cstdint>
#include <cstdio>

const char* FrameStats::frameCompleted(uint32_t now) {
  uint32_t elapsed = now - lastTick_;
  lastTick_ = now;
  // The first frame ever has no interval before it: the first group's mean starts there.
  if (++groupIntervals_ == 0) groupStart_ = now;
  if (++frameCounter_ < 10) return nullptr;
  int32_t rate = framesPerSecond(now, elapsed);
  // A long stretch of junk between frames must not wrap the figure round to a negative one.
  uint64_t meanBytes = byteCounter_ / 10;
  int32_t bytesPerFrame = meanBytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(meanBytes);
  std::snprintf(title_, sizeof title_, "KESTRAVU [%d frames/sec] [%d bytes/frame]", rate,
                bytesPerFrame);
  byteCounter_ = 0;
  frameCounter_ = 0;
  groupStart_ = now;
  groupIntervals_ = 0;
  return title_;
}

// Frames within one tick of the clock leave no time to divide by: they count as 1 ms apart,
// the shortest measurable time.
int32_t FrameStats::framesPerSecond(uint32_t now, uint32_t elapsed) const {
  if (rate_ == Rate::LastInterval)
    return elapsed == 0 ? 1000 : static_cast<int32_t>(1000 / elapsed);
  const uint32_t groupMs = now - groupStart_;
  const uint64_t perSecond = uint64_t{1000} * static_cast<uint32_t>(groupIntervals_);
  return static_cast<int32_t>(groupMs == 0 ? perSecond : perSecond / groupMs);
}
