// Encoder round trips through the real decoder: every picture comes back bit for bit, in the
// cell history and in the frame buffer, and every encoded frame is well formed.
#include <random>

#include "stream_test_support.h"

namespace {

using FrameFormat::kCellsPerFrame;
using FrameFormat::kCellsPerLine;
using Result = FrameDecoder::Result;

class EncoderTest : public DecoderTest {
 protected:
  // Decodes `stream` from `position` as one whole frame and checks it gives `cells`, both as
  // cell values and as the palette picture.
  void expectFrameGives(const std::vector<uint8_t>& stream, size_t& position,
                        const std::vector<uint8_t>& cells) {
    ASSERT_EQ(decode(stream, position), Result::FrameComplete);
    ASSERT_TRUE(std::equal(cells.begin(), cells.end(), history)) << "cell history differs";
    for (int cell = 0; cell < kCellsPerFrame; ++cell) {
      int row = cell / kCellsPerLine, x = 2 * (cell % kCellsPerLine);
      uint64_t shown = pixel(row, x) | uint64_t{pixel(row, x + 1)} << 32;
      ASSERT_EQ(shown, kPalettePairs[cells[cell]]) << "picture differs at cell " << cell;
    }
  }
  // Encodes `first` as a key frame and `second` as a delta frame against it, one stream.
  void expectKeyThenDeltaRoundTrip(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
    std::vector<uint8_t> key = encode(first, nullptr), delta = encode(second, &first);
    expectWellFormedFrame(key);
    expectWellFormedFrame(delta);
    EXPECT_EQ(key[0], 0x01);
    EXPECT_EQ(delta[0], 0x00);
    std::vector<uint8_t> stream = key;
    stream.insert(stream.end(), delta.begin(), delta.end());
    size_t position = 0;
    expectFrameGives(stream, position, first);
    EXPECT_EQ(position, key.size()) << "the key frame's last pair must end the frame exactly";
    expectFrameGives(stream, position, second);
    EXPECT_EQ(position, stream.size());
  }
};

// Runs of random length (1 ... 600) and random value, among them 0x00, 0x01 and 0x81.
std::vector<uint8_t> randomRuns(std::mt19937& random) {
  static const uint8_t kValues[] = {0x00, 0x01, 0x81, 0xFF, 0x10};
  std::vector<uint8_t> cells(kCellsPerFrame);
  for (int cell = 0; cell < kCellsPerFrame;) {
    int length = std::min<int>(1 + random() % 600, kCellsPerFrame - cell);
    uint8_t value = random() % 2 ? kValues[random() % 5] : static_cast<uint8_t>(random());
    std::fill_n(cells.begin() + cell, length, value);
    cell += length;
  }
  return cells;
}

TEST_F(EncoderTest, RandomPicturesComeBackExactly) {
  std::mt19937 random(2024);
  for (int round = 0; round < 4; ++round) {
    std::vector<uint8_t> noise(kCellsPerFrame);
    for (uint8_t& cell : noise) cell = static_cast<uint8_t>(random());
    expectKeyThenDeltaRoundTrip(randomRuns(random), randomRuns(random));
    expectKeyThenDeltaRoundTrip(noise, randomRuns(random));
    expectKeyThenDeltaRoundTrip(randomRuns(random), noise);
  }
}

// The delta of each cell is the same as its neighbour's across the seam, so delta runs span
// the pictures' own runs: new = old + 1 over 129 cells is one delta run of 0x01.
TEST_F(EncoderTest, RunsOf129CellsOfOneAreNeverSentAsARestartPair) {
  std::vector<uint8_t> keyCells(kCellsPerFrame, 0x00), deltaCells;
  for (int start : {0, 1000, 213 * 100 - 60, kCellsPerFrame - 129})
    std::fill_n(keyCells.begin() + start, 129, 0x01);
  std::fill_n(keyCells.begin() + 5000, 256 + 129, 0x01);  // 256 + 129: the second part splits too
  std::mt19937 random(7);
  std::vector<uint8_t> base(kCellsPerFrame);
  for (uint8_t& cell : base) cell = static_cast<uint8_t>(random());
  deltaCells = base;
  for (int cell = 20000; cell < 20129; ++cell) ++deltaCells[cell];
  expectKeyThenDeltaRoundTrip(keyCells, keyCells);
  expectKeyThenDeltaRoundTrip(base, deltaCells);
  std::vector<uint8_t> key = encode(keyCells, nullptr);
  const uint8_t split[] = {0x01, 0x80, 0x01, 0x01};
  EXPECT_NE(std::search(key.begin(), key.end(), split, split + 4), key.end());
}

TEST_F(EncoderTest, UniformPictureIs218PairsWithTheLastOneCut) {
  std::vector<uint8_t> cells(kCellsPerFrame, 0x3C);
  std::vector<uint8_t> key = encode(cells, nullptr), unchanged = encode(cells, &cells);
  ASSERT_EQ(key.size(), 438u);  // marker + 217 pairs of 256 cells + one of 250
  EXPECT_EQ(key[2], 0x3C);
  EXPECT_EQ(key[3], 0x00);
  EXPECT_EQ(key[437], kCellsPerFrame - 217 * 256);
  ASSERT_EQ(unchanged.size(), 438u);
  for (size_t at = 2; at < unchanged.size(); at += 2) ASSERT_EQ(unchanged[at], 0x00);
  expectKeyThenDeltaRoundTrip(cells, cells);
}

TEST_F(EncoderTest, RunsCrossLineEnds) {
  std::vector<uint8_t> cells(kCellsPerFrame, 0x00);
  std::fill_n(cells.begin() + 10 * kCellsPerLine + 200, 11 * kCellsPerLine, 0x37);  // 2,343 cells
  for (int line = 40; line < 262; line += 3) cells[line * kCellsPerLine] = 0xA5;    // a column at the left
  std::vector<uint8_t> key = encode(cells, nullptr);
  expectWellFormedFrame(key);
  int pairsOf37 = 0;
  for (size_t at = 2; at < key.size(); at += 2) pairsOf37 += key[at] == 0x37;
  EXPECT_EQ(pairsOf37, 10);  // 2,343 cells: nine pairs of 256 and one of 39
  std::vector<uint8_t> moved(kCellsPerFrame, 0x00);
  std::copy(cells.begin(), cells.end() - 1, moved.begin() + 1);
  expectKeyThenDeltaRoundTrip(cells, moved);
}

TEST_F(EncoderTest, EveryCellItsOwnPairFillsTheLargestFrame) {
  std::vector<uint8_t> cells(kCellsPerFrame), other(kCellsPerFrame);
  for (int cell = 0; cell < kCellsPerFrame; ++cell) cells[cell] = cell % 2 ? 0x12 : 0x21;
  for (int cell = 0; cell < kCellsPerFrame; ++cell)
    other[cell] = static_cast<uint8_t>(cells[cell] + cell % 3);
  EXPECT_EQ(encode(cells, nullptr).size(), kMaxEncodedFrameBytes);
  expectKeyThenDeltaRoundTrip(cells, other);
}

}  // namespace
