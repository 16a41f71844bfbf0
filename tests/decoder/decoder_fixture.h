// Decoder memory for tests: a cell history with a guard pattern above the frame's cells and a
// frame buffer, installed into the process-wide records and reset for every test.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "frame_decoder.h"

constexpr uint8_t kGuard = 0xA5;

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    history.assign(FrameDecoder::kCellHistoryBytes, 0);
    std::fill(history.begin() + FrameDecoder::kCellsPerFrame, history.end(), kGuard);
    pixels.assign(kBufferWidth * kBufferHeight, 0);
    FrameDecoder::decoderState = {history.data(), 0};
    frameBuffer.pixels = pixels.data();
    settings = Settings{};
  }
  void TearDown() override {
    for (size_t i = FrameDecoder::kCellsPerFrame; i < history.size(); ++i)
      ASSERT_EQ(history[i], kGuard) << "cell history byte " << i << " above the frame was written";
  }

  FrameDecoder::Result decode(const std::vector<uint8_t>& stream, size_t& position) {
    FrameDecoder::MemorySource source{stream.data(), stream.size(), position};
    FrameDecoder::Result result = FrameDecoder::decodeFrame(source);
    position = source.position;
    return result;
  }
  FrameDecoder::Result decode(const std::vector<uint8_t>& stream) {
    size_t position = 0;
    return decode(stream, position);
  }
  // Pixel at picture column x of buffer row `row` (row 0 is the bottom row in memory).
  uint32_t pixel(int row, int x) const { return pixels[static_cast<size_t>(row) * kBufferWidth + x]; }

  std::vector<uint8_t> history;
  std::vector<uint32_t> pixels;
};

// Stream building: a marker, then pairs.
inline std::vector<uint8_t> frameStart(uint8_t kind) { return {kind, 0x81}; }
inline void addPair(std::vector<uint8_t>& stream, uint8_t value, uint8_t count) {
  stream.push_back(value);
  stream.push_back(count);
}
// Pairs of `value` x 256 that cover a whole frame: 218 x 256 = 55,808 cells.
inline void addFullFrame(std::vector<uint8_t>& stream, uint8_t value) {
  for (int i = 0; i < 218; ++i) addPair(stream, value, 0);
}
