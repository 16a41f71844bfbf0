#include "test_pattern.h"

#include <cstring>

namespace {

using FrameFormat::kCellsPerFrame;
using FrameFormat::kCellsPerLine;
using FrameFormat::kLines;

// Picture layout, in lines from the top: colour bars, the Screen4 strip, a band of stripes
// that scroll one cell a frame, and a two-colour ramp; a box bounces over all of them and a
// frame counter sits at the bottom left.
constexpr int kBarLines = 120;
constexpr int kStripLines = 32;
constexpr int kStripeLines = 8;
constexpr int kBoxCells = 20, kBoxLines = 36;
constexpr int kCounterBits = 12, kCounterLine = 246;

// The Screen4 strip: every byte of the Screen4 table and one that repeats the colour before it.
constexpr uint8_t kStripBytes[8] = {0x00, 0x0F, 0xF0, 0xFF, 0x88, 0x8F, 0xF8, 0x5A};

inline uint8_t bothNibbles(int index) { return static_cast<uint8_t>(index | index << 4); }

void fillBlock(uint8_t* cells, int line, int cell, int lines, int width, uint8_t value) {
  for (int i = 0; i < lines; ++i) std::memset(cells + (line + i) * kCellsPerLine + cell, value, width);
}

// Position on a path that goes 0 ... span and back.
int bounce(uint32_t step, int span) {
  int phase = static_cast<int>(step % (2u * span));
  return phase <= span ? phase : 2 * span - phase;
}

void renderBackground(uint32_t frameNumber, uint8_t* cells) {
  for (int line = 0; line < kLines; ++line) {
    uint8_t* row = cells + line * kCellsPerLine;
    for (int cell = 0; cell < kCellsPerLine; ++cell) {
      int sixteenth = cell * 16 / kCellsPerLine;
      if (line < kBarLines) {
        row[cell] = bothNibbles(sixteenth);
      } else if (line < kBarLines + kStripLines) {
        row[cell] = kStripBytes[cell * 8 / kCellsPerLine];
      } else if (line < kBarLines + kStripLines + kStripeLines) {
        int stripe = static_cast<int>((cell + frameNumber) / 8 % 16);
        row[cell] = static_cast<uint8_t>(stripe | ((stripe + 5) & 15) << 4);
      } else {
        row[cell] = static_cast<uint8_t>(sixteenth | (15 - sixteenth) << 4);
      }
    }
  }
}

void renderBox(uint32_t frameNumber, uint8_t* cells) {
  int left = bounce(frameNumber * 2, kCellsPerLine - kBoxCells);
  int top = bounce(frameNumber * 3, kLines - kBoxLines);
  fillBlock(cells, top, left, kBoxLines, kBoxCells, 0xFF);
  fillBlock(cells, top + 2, left + 1, kBoxLines - 4, kBoxCells - 2, 0x9C);
}

void renderCounter(uint32_t frameNumber, uint8_t* cells) {
  for (int bit = 0; bit < kCounterBits; ++bit) {
    uint8_t value = (frameNumber >> (kCounterBits - 1 - bit) & 1) ? 0xFF : 0x00;
    fillBlock(cells, kCounterLine, 4 + bit * 8, 12, 6, value);
  }
}

}  // namespace

void renderPatternFrame(uint32_t frameNumber, uint8_t* cells) {
  renderBackground(frameNumber, cells);
  renderBox(frameNumber, cells);
  renderCounter(frameNumber, cells);
}

size_t nextPatternFrame(TestPattern& pattern, uint8_t* out) {
  uint32_t frameNumber = pattern.frameNumber++;
  renderPatternFrame(frameNumber, pattern.cells);
  if (frameNumber % kPatternKeyFrameInterval == 0) return encodeFrame(pattern.cells, nullptr, out);
  // The previous picture is drawn afresh rather than kept, so that no earlier call matters.
  renderPatternFrame(frameNumber - 1, pattern.previousCells);
  return encodeFrame(pattern.cells, pattern.previousCells, out);
}
