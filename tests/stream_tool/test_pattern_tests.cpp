// The built-in test pattern: its key frame rhythm, its colours, that it decodes to the
// pictures it draws, and that it is the same wherever it starts (the simulated device and the
// stream tool must serve identical streams).
#include <fstream>
#include <iterator>

#include "stream_test_support.h"
#include "test_pattern.h"

namespace {

using FrameFormat::kCellsPerFrame;
using Result = FrameDecoder::Result;

class TestPatternTest : public DecoderTest {
 protected:
  void SetUp() override {
    DecoderTest::SetUp();
    encoded.resize(kMaxEncodedFrameBytes);
  }
  std::vector<uint8_t> next() {
    size_t size = nextPatternFrame(pattern, encoded.data());
    return std::vector<uint8_t>(encoded.begin(), encoded.begin() + static_cast<long>(size));
  }
  TestPattern pattern;
  std::vector<uint8_t> encoded;
};

TEST_F(TestPatternTest, KeyFrameEverySixtyFramesAndMovingDeltaFramesBetween) {
  std::vector<uint8_t> previousCells(kCellsPerFrame), cells(kCellsPerFrame);
  for (uint32_t frame = 0; frame < 200; ++frame) {
    std::vector<uint8_t> bytes = next();
    expectWellFormedFrame(bytes);
    ASSERT_EQ(bytes[0], frame % 60 == 0 ? 0x01 : 0x00) << "frame " << frame;
    // Small enough to serve at 60 frames a second over the device's USB link.
    EXPECT_LT(bytes.size(), frame % 60 == 0 ? 16384u : 4096u) << "frame " << frame;
    renderPatternFrame(frame, cells.data());
    if (frame > 0) {
      EXPECT_NE(cells, previousCells) << "frame " << frame << " does not move";
    }
    previousCells = cells;
  }
}

TEST_F(TestPatternTest, FrameZeroHoldsEveryPaletteIndexAndEveryScreen4Byte) {
  std::vector<uint8_t> cells(kCellsPerFrame);
  renderPatternFrame(0, cells.data());
  bool nibbleSeen[16] = {}, byteSeen[256] = {};
  for (uint8_t cell : cells) nibbleSeen[cell & 15] = nibbleSeen[cell >> 4] = byteSeen[cell] = true;
  for (int index = 0; index < 16; ++index) EXPECT_TRUE(nibbleSeen[index]) << "palette index " << index;
  for (int byte : {0x00, 0x0F, 0xF0, 0xFF}) EXPECT_TRUE(byteSeen[byte]) << "cell byte " << byte;
  int repeatingBytes = 0;  // bytes outside the Screen4 table take the colour before them
  for (int byte = 0; byte < 256; ++byte)
    repeatingBytes += byteSeen[byte] && kScreen4Table[byte] == kScreen4Repeat;
  EXPECT_GT(repeatingBytes, 0);
}

TEST_F(TestPatternTest, StreamDecodesToThePatternInBothColourModes) {
  std::vector<uint8_t> stream, cells(kCellsPerFrame);
  for (int frame = 0; frame < 126; ++frame) {
    std::vector<uint8_t> bytes = next();
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  size_t position = 0;
  for (uint32_t frame = 0; frame < 126; ++frame) {
    mode.screen4 = frame % 2;  // the last one, 125, in Screen4 mode
    ASSERT_EQ(decode(stream, position), Result::FrameComplete);
    renderPatternFrame(frame, cells.data());
    ASSERT_TRUE(std::equal(cells.begin(), cells.end(), history)) << "frame " << frame;
  }
  EXPECT_EQ(position, stream.size());
  std::vector<uint32_t> colours;
  for (int row = 0; row < kPictureHeight; ++row)
    for (int x = 0; x < kPictureWidth; ++x) colours.push_back(pixel(row, x));
  for (uint32_t colour : {0x000000u, 0xFF00FFu, 0x00FF00u, 0xFFFFFFu})
    EXPECT_NE(std::find(colours.begin(), colours.end(), colour), colours.end()) << std::hex << colour;
}

TEST_F(TestPatternTest, SameStreamWhereverItStarts) {
  std::vector<std::vector<uint8_t>> fromZero;
  for (int frame = 0; frame < 75; ++frame) fromZero.push_back(next());
  pattern.frameNumber = 70;  // a device reopened at frame 70 serves frame 70 unchanged
  for (int frame = 70; frame < 75; ++frame) EXPECT_EQ(next(), fromZero[frame]) << "frame " << frame;

  // The committed fixture pins the pattern down: it is the first 12 frames.
  std::ifstream file(KESTRAVU_FIXTURES "/pattern-12.stream", std::ios::binary);
  std::vector<uint8_t> fixture((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> expected;
  for (int frame = 0; frame < 12; ++frame)
    expected.insert(expected.end(), fromZero[frame].begin(), fromZero[frame].end());
  EXPECT_EQ(fixture, expected);
}

}  // namespace
