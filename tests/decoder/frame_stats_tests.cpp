#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame_stats.h"

namespace {

// Completes `frames` frames, `interval` ms apart, each after a decode call that took `bytes`.
const char* completeFrames(FrameStats& stats, int frames, uint32_t& now, uint32_t interval, uint32_t bytes) {
  const char* title = nullptr;
  for (int i = 0; i < frames; ++i) {
    stats.countBytes(bytes);
    now += interval;
    title = stats.frameCompleted(now);
    if (i + 1 < frames) {
      EXPECT_EQ(title, nullptr) << "a title before the tenth frame";
    }
  }
  return title;
}

TEST(FrameStatsTest, TitleEveryTenthFrameFromTheLastIntervalAndTheMeanBytes) {
  FrameStats stats;
  EXPECT_STREQ(FrameStats::kInitialTitle, "KESTRAVU");
  uint32_t now = 5000;
  stats.frameCompleted(now);  // frame 1
  ASSERT_EQ(completeFrames(stats, 8, now, 16, 438), nullptr);
  const char* title = completeFrames(stats, 1, now, 17, 438);
  ASSERT_NE(title, nullptr);
  // Nine frames' bytes were counted after the first: 9 * 438 / 10.
  EXPECT_EQ(std::string(title), "KESTRAVU [58 frames/sec] [394 bytes/frame]");

  // The bytes start again from 0 with every title.
  title = completeFrames(stats, 10, now, 17, 438);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(std::string(title), "KESTRAVU [58 frames/sec] [438 bytes/frame]");
}

TEST(FrameStatsTest, SlowAndInstantIntervalsAndEndlessJunk) {
  FrameStats stats;
  uint32_t now = 0;
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 1001, 5)), "KESTRAVU [0 frames/sec] [5 bytes/frame]");
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 0, 7)), "KESTRAVU [1000 frames/sec] [7 bytes/frame]");
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 1000, 0)), "KESTRAVU [1 frames/sec] [0 bytes/frame]");
  // Bytes skipped by calls that found no frame count too; a mean beyond the title's figure shows
  // as its largest value, never wrapped round to a negative one.
  for (int call = 0; call < 20; ++call) stats.countBytes(UINT32_MAX);
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 20, 0)), "KESTRAVU [50 frames/sec] [2147483647 bytes/frame]");
}

TEST(FrameStatsTest, TickCountWrapsAround) {
  FrameStats stats;
  uint32_t now = 0xFFFFFFFAu - 9 * 20;  // the tenth frame comes 20 ms after the ninth, past the wrap
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 20, 100)), "KESTRAVU [50 frames/sec] [100 bytes/frame]");
  EXPECT_LT(now, 20u);
}

}  // namespace
