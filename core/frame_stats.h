// Frame rate and stream bytes per frame, reported in the window title every tenth frame.
#pragma once
#include <cstdint>

class FrameStats {
 public:
  static constexpr char kInitialTitle[] = "KESTRAVU";

  // What the title's frame rate is taken from.
  enum class Rate {
    LastInterval,  // the interval before the tenth frame alone
    GroupMean,     // the ten frames since the last title: steady however unevenly they came
  };

  explicit FrameStats(Rate rate = Rate::LastInterval) : rate_(rate) {}

  // Stream bytes taken by a decode call, whether or not it completed a frame: skipped bytes
  // count towards the next title too.
  void countBytes(uint32_t bytes) { byteCounter_ += bytes; }

  // Counts a completed frame at clock time `now`; on every tenth frame returns the new window
  // title, otherwise nullptr. The bytes are the group's mean.
  const char* frameCompleted(uint32_t now);

 private:
  int32_t framesPerSecond(uint32_t now, uint32_t elapsed) const;

  Rate rate_;
  int32_t frameCounter_ = 0;     // 0 ... 9
  uint32_t lastTick_ = 0;        // the clock at the previous completed frame (wraps)
  uint32_t groupStart_ = 0;      // the clock at the frame before the group's first (wraps)
  int32_t groupIntervals_ = -1;  // frame intervals since groupStart_; -1 before the first frame
  uint64_t byteCounter_ = 0;     // since the last title
  char title_[64] = {};
};
