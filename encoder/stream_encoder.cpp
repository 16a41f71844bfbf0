#include "stream_encoder.h"

namespace {

using FrameFormat::kCellsPerFrame;

// The value byte that turns the previous cell into the new one: the cell itself in a key
// frame, the difference modulo 256 in a delta frame (0 for an unchanged cell).
inline uint8_t codedValue(const uint8_t* cells, const uint8_t* previousCells, int cell) {
  if (previousCells == nullptr) return cells[cell];
  return static_cast<uint8_t>(cells[cell] - previousCells[cell]);
}

// Pairs for `count` cells of one value byte, at most 256 cells a pair (count byte 0). The
// pair 0x01 0x81 would restart the frame, so 129 cells of value 0x01 go as 128 + 1.
uint8_t* writeRun(uint8_t* out, uint8_t value, int count) {
  while (count > 0) {
    int run = count < 256 ? count : 256;
    if (FrameFormat::isRestartPair(value, static_cast<uint8_t>(run))) run = 128;
    *out++ = value;
    *out++ = static_cast<uint8_t>(run);  // 256 is sent as 0
    count -= run;
  }
  return out;
}

}  // namespace

size_t encodeFrame(const uint8_t* cells, const uint8_t* previousCells, uint8_t* out) {
  uint8_t* at = out;
  *at++ = previousCells == nullptr ? FrameFormat::kKeyFrame : FrameFormat::kDeltaFrame;
  *at++ = FrameFormat::kMarker;
  int cell = 0;
  while (cell < kCellsPerFrame) {  // runs end with the frame's last cell, never past it
    uint8_t value = codedValue(cells, previousCells, cell);
    int end = cell + 1;
    while (end < kCellsPerFrame && codedValue(cells, previousCells, end) == value) ++end;
    at = writeRun(at, value, end - cell);
    cell = end;
  }
  return static_cast<size_t>(at - out);
}
