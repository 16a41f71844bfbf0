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

// The Linux title: ten frames over the time they took, so frames that waited behind a stall
// and then came in one millisecond do not show as a burst. The first group has nine intervals,
// from its first frame; the clock wraps within it.
TEST(FrameStatsTest, GroupMeanRateOverAStallAndABurst) {
  FrameStats stats(FrameStats::Rate::GroupMean);
  uint32_t now = 0xFFFFFFFFu - 100;
  stats.frameCompleted(now);
  ASSERT_EQ(completeFrames(stats, 8, now, 16, 438), nullptr);
  EXPECT_EQ(std::string(completeFrames(stats, 1, now, 17, 438)), "KESTRAVU [62 frames/sec] [394 bytes/frame]");

  // A 100 ms stall, frames 16 ms apart, then two in the same millisecond: 10 in 228 ms.
  ASSERT_EQ(completeFrames(stats, 1, now, 100, 400), nullptr);
  ASSERT_EQ(completeFrames(stats, 8, now, 16, 400), nullptr);
  EXPECT_EQ(std::string(completeFrames(stats, 1, now, 0, 400)), "KESTRAVU [43 frames/sec] [400 bytes/frame]");

  // A whole group within one millisecond counts as taking 1 ms; the next starts from there.
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 0, 7)), "KESTRAVU [10000 frames/sec] [7 bytes/frame]");
  EXPECT_EQ(std::string(completeFrames(stats, 10, now, 100, 7)), "KESTRAVU [10 frames/sec] [7 bytes/frame]");
}

}  // namespace
