// Frame rate and stream bytes per frame, reported in the window title every tenth frame.
#pragma once
#include <cstdint>

class FrameStats {
 public:
  static constexpr char kInitialTitle[] = "KESTRAVU";

  // Stream bytes taken by a decode call, whether or not it completed a frame: skipped bytes
  // count towards the next title too.
  void countBytes(uint32_t bytes) { byteCounter_ += bytes; }

  // Counts a completed frame at clock time `now`; on every tenth frame returns the new window
  // title, otherwise nullptr. The rate is that of the last interval only; the bytes are the
  // group's mean.
  const char* frameCompleted(uint32_t now);

 private:
  int32_t frameCounter_ = 0;  // 0 ... 9
  uint32_t lastTick_ = 0;     // the clock at the previous completed frame (wraps)
  uint64_t byteCounter_ = 0;  // since the last title
  char title_[64] = {};
};
