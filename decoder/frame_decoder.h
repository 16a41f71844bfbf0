// Frame decoding core. Owns the capture stream format: the frame marker search, run pairs,
// key and delta frames, the key-frame restart, the cell history and the byte counter. Decoded
// cells go to the pixel stage of frame_buffer.h; the statistics live in frame_stats.h.
//
// Stream format: a frame starts with the marker KIND 0x81 (KIND 0x00 delta, 0x01 key), then
// run pairs VALUE COUNT (COUNT 0 means 256) cover the 262 x 213 cells in raster order, runs
// crossing line ends. A key cell is VALUE; a delta cell is its previous value + VALUE (mod 256).
// The pair 0x01 0x81 inside a frame restarts it as a key frame; 0x00 0x81 is plain data.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "frame_buffer.h"
#include "settings.h"

namespace FrameDecoder {

enum class Result { FrameComplete, SourceFailed, NoFrame };

constexpr int kLines = 262;
constexpr int kCellsPerLine = 213;
constexpr int kCellsPerFrame = kLines * kCellsPerLine;  // 55,806
constexpr int kCellHistoryBytes = 65536;
constexpr uint8_t kDeltaFrame = 0x00;
constexpr uint8_t kKeyFrame = 0x01;
constexpr uint8_t kMarker = 0x81;

// A stream that never completes a frame (no marker, or endless restarts) must not hold the
// program's one thread: a call gives up after this many bytes, about nine worst-case frames.
constexpr uint32_t kMaxBytesPerCall = 1048576;

struct DecoderState {
  uint8_t* cellHistory = nullptr;  // kCellHistoryBytes, zeroed; cells 0 ... 55,805 used
  int32_t byteCounter = 0;         // stream bytes taken; read and reset by the statistics
};

extern DecoderState decoderState;

// Applies one run of `count` cells from `firstCell` to the cell history and the picture.
inline void applyRun(PixelStage& stage, uint8_t kind, uint8_t value, int firstCell, int count) {
  uint8_t* cells = decoderState.cellHistory + firstCell;
  if (kind == kKeyFrame) {
    std::memset(cells, value, count);
  } else if (value != 0) {
    for (int i = 0; i < count; ++i) cells[i] = static_cast<uint8_t>(cells[i] + value);
  } else if (!stage.screen4) {
    return;  // unchanged cells: palette mode leaves their pixels as they are
  }
  int line = firstCell / kCellsPerLine;
  int cellNumber = firstCell % kCellsPerLine;
  while (count > 0) {
    int span = std::min(count, kCellsPerLine - cellNumber);
    if (kind == kKeyFrame)
      writeUniformCells(stage, line, cellNumber, span, value);
    else
      writeCells(stage, line, cellNumber, span, cells);
    cells += span, count -= span;
    ++line, cellNumber = 0;
  }
}

// Decodes one frame from `source`, any type with `int nextByte(uint8_t& byte)` that returns 0
// with the next byte or 1 on failure (and may block). Scale and colour mode are those of
// `settings` when the call starts.
template <class Source>
Result decodeFrame(Source& source) {
  PixelStage stage = beginPixelStage(frameBuffer.pixels, settings.wide, settings.scr4);
  uint32_t bytesTaken = 0;
  uint8_t previous = 0, byte = 0;
  for (;;) {  // marker search, byte by byte: a 0x81 first in the call is a delta marker
    if (bytesTaken == kMaxBytesPerCall) return Result::NoFrame;
    if (source.nextByte(byte) != 0) return Result::SourceFailed;
    ++bytesTaken, ++decoderState.byteCounter;
    if (byte == kMarker && previous <= kKeyFrame) break;
    previous = byte;
  }
  uint8_t kind = previous;
  int cellIndex = 0;
  while (cellIndex < kCellsPerFrame) {
    if (bytesTaken > kMaxBytesPerCall - 2) return Result::NoFrame;
    uint8_t value = 0, count = 0;
    if (source.nextByte(value) != 0 || source.nextByte(count) != 0) return Result::SourceFailed;
    bytesTaken += 2, decoderState.byteCounter += 2;
    if (value == kKeyFrame && count == kMarker) {
      kind = kKeyFrame, cellIndex = 0;  // restart at the top-left as a key frame
      continue;
    }
    // What is left of a run at the frame's end is dropped.
    int run = std::min(count == 0 ? 256 : int{count}, kCellsPerFrame - cellIndex);
    applyRun(stage, kind, value, cellIndex, run);
    cellIndex += run;
  }
  return Result::FrameComplete;
}

// A byte source over bytes in memory, for tools, tests and benchmarks.
struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t position = 0;
  int nextByte(uint8_t& byte) {
    if (position == size) return 1;
    byte = data[position++];
    return 0;
  }
};

}  // namespace FrameDecoder
