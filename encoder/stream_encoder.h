// Encoder of capture streams, the other direction of the decoder: a frame of cells becomes a
// marker and run pairs. Portable (no image library), shared by the stream tool and the
// simulated capture device, as is the built-in test pattern beside it (test_pattern.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame_format.h"

// The longest frame the encoder writes: a marker and one pair per cell.
constexpr size_t kMaxEncodedFrameBytes = 2 + 2 * FrameFormat::kCellsPerFrame;  // 111,614

// Encodes `cells` (kCellsPerFrame bytes) into `out` (kMaxEncodedFrameBytes) as a key frame when
// `previousCells` is null, else as a delta frame against it. Returns the bytes written.
size_t encodeFrame(const uint8_t* cells, const uint8_t* previousCells, uint8_t* out);
