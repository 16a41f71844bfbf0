// One checksum of a decoded frame, for tests that compare two decodes of the same stream:
// FNV-1a over the frame's cells in the cell history and over every pixel of the picture.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame_buffer.h"
#include "frame_format.h"

inline uint64_t frameChecksum(const uint8_t* cells, const FrameBuffer& picture) {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint64_t value) { hash = (hash ^ value) * 1099511628211ull; };
  for (int i = 0; i < FrameFormat::kCellsPerFrame; ++i) mix(cells[i]);
  for (size_t i = 0; i < static_cast<size_t>(kBufferWidth) * kBufferHeight; ++i) mix(picture.pixels[i]);
  return hash;
}
