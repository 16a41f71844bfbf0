#include <gtest/gtest.h>

#include <string>

#include "frame_decoder.h"
#include "frame_stats.h"

namespace {

// Completes `frames` frames, `interval` ms apart, each adding `bytes` to the byte counter.
const char* completeFrames(int frames, uint32_t& now, uint32_t interval, int32_t bytes) {
  const char* title = nullptr;
  for (int i = 0; i < frames; ++i) {
    FrameDecoder::decoderState.byteCounter += bytes;
    now += interval;
    title = FrameStats::frameCompletedAt(now);
    if (i + 1 < frames) {
      EXPECT_EQ(title, nullptr) << "a title before the tenth frame";
    }
  }
  return title;
}

class FrameStatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FrameStats::statsState = {};
    FrameDecoder::decoderState = {};
  }
};

TEST_F(FrameStatsTest, TitleEveryTenthFrameFromTheLastIntervalAndTheMeanBytes) {
  uint32_t now = 5000;
  FrameStats::frameCompletedAt(now);  // frame 1
  ASSERT_EQ(completeFrames(8, now, 16, 438), nullptr);
  const char* title = completeFrames(1, now, 17, 438);
  ASSERT_NE(title, nullptr);
  // Nine frames' bytes were counted after the first: 9 * 438 / 10.
  EXPECT_EQ(std::string(title), "KESTRAVU [58 frames/sec] [394 bytes/frame]");
  EXPECT_EQ(FrameDecoder::decoderState.byteCounter, 0);

  FrameDecoder::decoderState.byteCounter = 0;
  title = completeFrames(10, now, 17, 438);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(std::string(title), "KESTRAVU [58 frames/sec] [438 bytes/frame]");
}

TEST_F(FrameStatsTest, SlowAndInstantIntervals) {
  uint32_t now = 0;
  EXPECT_EQ(std::string(completeFrames(10, now, 1001, 5)), "KESTRAVU [0 frames/sec] [5 bytes/frame]");
  EXPECT_EQ(std::string(completeFrames(10, now, 0, 7)), "KESTRAVU [1000 frames/sec] [7 bytes/frame]");
  EXPECT_EQ(std::string(completeFrames(10, now, 1000, 0)), "KESTRAVU [1 frames/sec] [0 bytes/frame]");
}

TEST_F(FrameStatsTest, TickCountWrapsAround) {
  uint32_t now = 0xFFFFFFF0u;
  FrameStats::statsState.lastTick = now;
  EXPECT_EQ(std::string(completeFrames(10, now, 20, 100)), "KESTRAVU [50 frames/sec] [100 bytes/frame]");
}

}  // namespace
