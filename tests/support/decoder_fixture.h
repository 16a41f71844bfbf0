// A decoder, its picture and a clock that stands still, fresh for every test; the cell history
// bytes above the frame's cells hold a guard pattern that no decode may touch.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "frame_decoder.h"
#include "manual_clock.h"
#include "stream_builder.h"

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kPixelCount = static_cast<size_t>(kBufferWidth) * kBufferHeight;

class DecoderTest : public ::testing::Test {
 protected:
  // Also called again by tests that want zeroed memory halfway.
  void SetUp() override {
    ASSERT_TRUE(decoder.allocate() && picture.allocate());
    history = decoder.cellHistory();
    pixels = picture.pixels.get();
    std::fill(history + FrameFormat::kCellsPerFrame, history + FrameDecoder::kCellHistoryBytes, kGuard);
    mode = PictureMode{};
  }
  void TearDown() override {
    for (int i = FrameFormat::kCellsPerFrame; i < FrameDecoder::kCellHistoryBytes; ++i)
      ASSERT_EQ(history[i], kGuard) << "cell history byte " << i << " above the frame was written";
  }

  FrameDecoder::Result decode(const std::vector<uint8_t>& stream, size_t& position) {
    MemorySource source{stream.data(), stream.size(), position};
    FrameDecoder::Result result = decoder.decodeFrame(source, picture, mode, clock);
    position = source.position;
    return result;
  }
  FrameDecoder::Result decode(const std::vector<uint8_t>& stream) {
    size_t position = 0;
    return decode(stream, position);
  }
  // Pixel at picture column x of buffer row `row` (row 0 is the top row).
  uint32_t pixel(int row, int x) const { return pixels[static_cast<size_t>(row) * kBufferWidth + x]; }

  FrameDecoder decoder;
  FrameBuffer picture;
  ManualClock clock;
  PictureMode mode;
  uint8_t* history = nullptr;  // the decoder's cell history
  uint32_t* pixels = nullptr;  // the picture's kPixelCount pixels
};
