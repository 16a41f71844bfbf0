#include "frame_stats.h"

#include <cstdio>

#include "frame_decoder.h"

#ifdef _WIN32
extern "C" __declspec(dllimport) unsigned long __stdcall GetTickCount(void);
#else
#include <ctime>
#endif

namespace FrameStats {

StatsState statsState;

uint32_t tickCount() {
#ifdef _WIN32
  return static_cast<uint32_t>(GetTickCount());
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000u + now.tv_nsec / 1000000);
#endif
}

const char* frameCompletedAt(uint32_t now) {
  uint32_t elapsed = now - statsState.lastTick;
  statsState.lastTick = now;
  if (++statsState.frameCounter < 10) return nullptr;
  // Two frames within one tick of the clock leave no interval to divide by: the title then
  // shows the rate of the shortest measurable interval, 1 ms.
  int32_t framesPerSecond = elapsed == 0 ? 1000 : static_cast<int32_t>(1000 / elapsed);
  int32_t bytesPerFrame = FrameDecoder::decoderState.byteCounter / 10;
  std::snprintf(statsState.title, sizeof statsState.title, "KESTRAVU [%d frames/sec] [%d bytes/frame]",
                framesPerSecond, bytesPerFrame);
  FrameDecoder::decoderState.byteCounter = 0;
  statsState.frameCounter = 0;
  return statsState.title;
}

}  // namespace FrameStats
