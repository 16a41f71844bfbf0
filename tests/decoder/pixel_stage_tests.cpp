#include "decoder_fixture.h"
#include "settings.h"

using Result = FrameDecoder::Result;

namespace {

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kMagenta = 0xFF00FF, kGreen = 0x00FF00,
                   kWhite = 0xFFFFFF;

// A key frame whose first cells are `cells`, one pair each, the rest `fill`.
std::vector<uint8_t> keyFrameWith(std::initializer_list<uint8_t> cells, uint8_t fill = 0x00) {
  std::vector<uint8_t> stream = frameStart(0x01);
  for (uint8_t cell : cells) addPair(stream, cell, 1);
  addFullFrame(stream, fill);
  return stream;
}

TEST_F(DecoderTest, PaletteCellAtNormalScaleLowNibbleLeftInRow0) {
  ASSERT_EQ(decode(keyFrameWith({0x9C})), Result::FrameComplete);
  EXPECT_EQ(pixel(0, 0), kBlue);
  EXPECT_EQ(pixel(0, 1), kRed);
  EXPECT_EQ(pixel(523, 0), 0u) << "normal scale leaves the Wide rows alone";
  EXPECT_EQ(pixel(0, 426), 0u) << "and the columns right of the picture";
  EXPECT_EQ(pixel(262, 0), 0u);
}

TEST_F(DecoderTest, PaletteCellAtWideScaleFillsFourByTwo) {
  mode = Settings{5, 0}.pictureMode();  // any non-zero value is on
  std::vector<uint8_t> stream = frameStart(0x01);
  addPair(stream, 0x00, 213);   // line 0
  addPair(stream, 0x00, 212);   // line 1 up to its last cell
  addPair(stream, 0x9C, 1);
  addFullFrame(stream, 0xF0);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  // Picture line 1 is rows 2 (upper) and 3; its last cell starts at column 848.
  for (int row : {2, 3}) {
    EXPECT_EQ(pixel(row, 848), kBlue);
    EXPECT_EQ(pixel(row, 849), kBlue);
    EXPECT_EQ(pixel(row, 850), kRed);
    EXPECT_EQ(pixel(row, 851), kRed);
  }
  EXPECT_EQ(pixel(0, 0), 0u);
  EXPECT_EQ(pixel(523, 2), kWhite);  // 0xF0: low nibble 0 left, high nibble F right
  EXPECT_EQ(pixel(522, 3), kWhite);
  EXPECT_EQ(pixel(522, 1), 0u);
}

TEST_F(DecoderTest, EveryPaletteColourAsPixelValue) {
  std::vector<uint8_t> stream = frameStart(0x01);
  for (int i = 0; i < 16; ++i) addPair(stream, static_cast<uint8_t>(i | i << 4), 1);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  const uint32_t expected[16] = {0x000000, 0xFFAF00, 0x00FFAF, 0xAFFF00, 0xAF00FF, 0xFF00AF,
                                 0x00AFFF, 0xAFAFAF, 0x000000, 0xFF0000, 0x00FF00, 0xFFFF00,
                                 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pixel(0, 2 * i + 1), expected[i]) << "palette index " << i;
}

TEST_F(DecoderTest, Screen4RunningColourStartsBlackAndSurvivesRestarts) {
  mode.screen4 = true;
  std::vector<uint8_t> stream = frameStart(0x01);
  addPair(stream, 0x12, 1);  // before any table byte: black
  addPair(stream, 0x0F, 1);
  addPair(stream, 0x12, 1);  // repeats magenta
  addPair(stream, 0xF8, 1);
  addPair(stream, 0x34, 2);
  addPair(stream, 0x01, 0x81);  // restart: the running colour (green) carries over
  addPair(stream, 0x56, 1);
  addPair(stream, 0xFF, 1);
  addPair(stream, 0x88, 1);
  addPair(stream, 0x8F, 1);
  addPair(stream, 0xF0, 1);
  addFullFrame(stream, 0x00);
  std::fill_n(pixels, kPixelCount, 0x777777u);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  const uint32_t expected[] = {kGreen, kWhite, 0, kMagenta, kGreen};
  for (int cell = 0; cell < 5; ++cell) {
    EXPECT_EQ(pixel(0, 2 * cell), expected[cell]) << "cell " << cell;
    EXPECT_EQ(pixel(0, 2 * cell + 1), expected[cell]) << "cell " << cell;
  }

  // The next call starts black again.
  stream = frameStart(0x01);
  addPair(stream, 0x12, 1);
  addFullFrame(stream, 0x0F);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(pixel(0, 0), 0u);
  EXPECT_EQ(pixel(0, 2), kMagenta);
}

TEST_F(DecoderTest, Screen4WritesUnchangedDeltaCellsAtWideScale) {
  ASSERT_EQ(decode(keyFrameWith({0x0F, 0x12, 0xF8, 0x00})), Result::FrameComplete);
  mode = Settings{1, -7}.pictureMode();
  std::vector<uint8_t> stream = frameStart(0x00);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  const uint32_t expected[] = {kMagenta, kMagenta, kGreen, 0};
  for (int cell = 0; cell < 4; ++cell)
    for (int column = 4 * cell; column < 4 * cell + 4; ++column) {
      EXPECT_EQ(pixel(0, column), expected[cell]) << "cell " << cell;
      EXPECT_EQ(pixel(1, column), expected[cell]) << "cell " << cell;
    }
}

TEST_F(DecoderTest, PaletteDeltaZeroKeepsStalePixelsOfTheOtherScale) {
  mode.wide = true;
  ASSERT_EQ(decode(keyFrameWith({}, 0xCC)), Result::FrameComplete);
  mode.wide = false;
  std::vector<uint8_t> stream = frameStart(0x00);
  addPair(stream, 0x00, 5);
  addPair(stream, 0x11, 1);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(pixel(0, 0), kBlue) << "unchanged cell keeps the Wide picture's pixel";
  EXPECT_EQ(pixel(0, 10), paletteColour(0xD));
  EXPECT_EQ(pixel(0, 11), paletteColour(0xD));
}

}  // namespace
