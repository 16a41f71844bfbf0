// The built-in animated test pattern, identical in the stream tool and the simulated device:
// all 16 palette colours, moving content sent as delta frames, a key frame at least every 60
// frames, and cell bytes that show every Screen4 colour.
#pragma once
#include <cstddef>
#include <cstdint>

#include "stream_encoder.h"

// Frames 0, 60, 120, ... are key frames, so a viewer that joins late has a whole picture
// within a second at the device's 60 frames a second.
constexpr uint32_t kPatternKeyFrameInterval = 60;

struct TestPattern {
  uint32_t frameNumber = 0;
  uint8_t cells[FrameFormat::kCellsPerFrame];
  uint8_t previousCells[FrameFormat::kCellsPerFrame];
};

// Writes the pattern's next frame, encoded, into `out` (kMaxEncodedFrameBytes); returns its size.
// Each frame depends on `frameNumber` alone, so a pattern may start at any frame number.
size_t nextPatternFrame(TestPattern& pattern, uint8_t* out);

// The cells (kCellsPerFrame bytes) of frame `frameNumber` of the pattern.
void renderPatternFrame(uint32_t frameNumber, uint8_t* cells);
