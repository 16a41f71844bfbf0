// The built-in animated test pattern, identical in the stream tool and the simulated device:
// all 16 palette colours, moving content sent as delta frames, a key frame at least every 60
// frames, and cell bytes that show every Screen4 colour.
#pragma once
#include <cstddef>
#include <cstdint>

#include "stream_encoder.h"

struct TestPattern {
  uint32_t frameNumber = 0;
  uint8_t cells[FrameDecoder::kCellsPerFrame];
  uint8_t previousCells[FrameDecoder::kCellsPerFrame];
};

// Writes the pattern's next frame, encoded, into `out` (kMaxEncodedFrameBytes); returns its size.
size_t nextPatternFrame(TestPattern& pattern, uint8_t* out);
