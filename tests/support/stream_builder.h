// Capture streams written pair by pair, for tests that need bytes no encoder would write.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_format.h"

// A frame marker of `kind`, then pairs.
inline std::vector<uint8_t> frameStart(uint8_t kind) { return {kind, FrameFormat::kMarker}; }
inline void addPair(std::vector<uint8_t>& stream, uint8_t value, uint8_t count) {
  stream.push_back(value);
  stream.push_back(count);
}
// Pairs of `value` that cover exactly `cells` cells: runs of 256, then the rest.
inline void addRuns(std::vector<uint8_t>& stream, uint8_t value, size_t cells) {
  while (cells > 0) {
    const uint8_t count = cells < 256 ? static_cast<uint8_t>(cells) : 0;  // 0 stands for 256
    addPair(stream, value, count);
    cells -= FrameFormat::runLength(count);
  }
}
// Pairs of `value` x 256 that cover a whole frame and run past its end: 218 x 256 = 55,808 cells.
inline void addFullFrame(std::vector<uint8_t>& stream, uint8_t value) {
  for (int cells = 0; cells < FrameFormat::kCellsPerFrame; cells += 256)
    addPair(stream, value, 0);
}
