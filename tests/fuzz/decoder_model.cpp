#include "decoder_model.h"

#include <algorithm>

#include "check.h"

namespace {

using FrameDecoding::kMaxBytesPerCall;
using FrameFormat::kCellsPerFrame;
using FrameFormat::kCellsPerLine;
using Result = FrameDecoder::Result;

uint32_t screen4TableColour(uint8_t cell, uint32_t previousColour) {
  switch (cell) {
    case 0x00: case 0x88: return 0x000000;
    case 0x0F: case 0x8F: return 0xFF00FF;
    case 0xF0: case 0xF8: return 0x00FF00;
    case 0xFF: return 0xFFFFFF;
    default: return previousColour;
  }
}

constexpr uint32_t paletteColours[16] = {
    paletteColour(0), paletteColour(1), paletteColour(2),   paletteColour(3),
    paletteColour(4), paletteColour(5), paletteColour(6),   paletteColour(7),
    paletteColour(8), paletteColour(9), paletteColour(10),  paletteColour(11),
    paletteColour(12), paletteColour(13), paletteColour(14), paletteColour(15)};

inline void drawCell(ModelMemory& memory, PictureMode mode, ModelCall& call, int cellIndex, uint8_t cell,
                     uint8_t kind, uint8_t value) {
  uint32_t left, right;
  if (mode.screen4) {
    left = right = call.screen4Colour = screen4TableColour(cell, call.screen4Colour);
  } else if (kind == FrameFormat::kDeltaFrame && value == 0) {
    return;  // an unchanged cell keeps its pixels
  } else {
    left = paletteColours[cell & 0x0F], right = paletteColours[cell >> 4];
  }
  const int line = cellIndex / kCellsPerLine, cellNumber = cellIndex % kCellsPerLine;
  uint32_t* picture = memory.pixels;
  if (!mode.wide) {
    uint32_t* at = picture + line * kBufferWidth + 2 * cellNumber;
    at[0] = left, at[1] = right;
    return;
  }
  uint32_t* upper = picture + 2 * line * kBufferWidth + 4 * cellNumber;
  uint32_t* lower = upper + kBufferWidth;
  upper[0] = upper[1] = lower[0] = lower[1] = left;
  upper[2] = upper[3] = lower[2] = lower[3] = right;
}

}  // namespace

int WatchedSource::nextByte(uint8_t& byte) {
  REQUIRE(!failedThisCall, "no byte is asked for after a failure in the same call");
  if (position == stream->length) {
    failedThisCall = true;
    return 1;
  }
  byte = stream->at(position++);
  ++takenThisCall;
  return 0;
}

size_t ShowingSource::unread(const uint8_t*& bytes) {
  REQUIRE(!watched.failedThisCall, "no byte is asked for after a failure in the same call");
  const Stream& stream = *watched.stream;
  const size_t position = watched.position;
  size_t available;
  if (position < stream.size) {
    bytes = stream.data + position, available = stream.size - position;
  } else {
    const size_t offset = (position - stream.size) % kFillerBytes;
    bytes = stream.filler + offset, available = kFillerBytes - offset;
  }
  shown = std::min({chunk - position % chunk, available, stream.length - position});
  return shown;
}

void ShowingSource::consume(size_t count) {
  REQUIRE(count <= shown, "no more bytes are consumed than were shown");
  watched.position += count;
  watched.takenThisCall += static_cast<uint32_t>(count);
  shown = 0;
}

// Written out step by step from the stream format, with the per-call bound: a call stops with
// NoFrame rather than take a byte or a pair that would carry it past kMaxBytesPerCall.
ModelCall modelDecode(const Stream& stream, size_t& position, ModelMemory& memory, PictureMode mode) {
  ModelCall call;
  auto take = [&](uint8_t& byte) {
    if (position == stream.length) return false;
    byte = stream.at(position++);
    ++call.taken;
    return true;
  };
  uint8_t previous = memory.searchCarry, byte = 0;
  memory.searchCarry = 0;
  for (;;) {
    if (call.taken + 1 > kMaxBytesPerCall) {  // the next call's search goes on from `previous`
      memory.searchCarry = previous;
      return call.result = Result::NoFrame, call;
    }
    if (!take(byte)) return call.result = Result::SourceFailed, call;
    ++call.counted;
    if ((previous == 0x00 || previous == 0x01) && byte == 0x81) break;
    previous = byte;
  }
  uint8_t kind = previous;
  for (bool restarted = true; restarted;) {  // one pass per start and restart of the frame
    restarted = false;
    uint8_t value = 0, remaining = 0;
    for (int cellIndex = 0; cellIndex < kCellsPerFrame && !restarted; ++cellIndex) {
      if (remaining == 0) {
        uint8_t count;
        if (call.taken + 2 > kMaxBytesPerCall) return call.result = Result::NoFrame, call;
        if (!take(value) || !take(count)) return call.result = Result::SourceFailed, call;
        call.counted += 2;
        if (value == 0x01 && count == 0x81) {
          kind = 0x01, restarted = true;
          continue;
        }
        remaining = count;
      }
      uint8_t& cell = memory.history[cellIndex];
      cell = kind == 0x01 ? value : static_cast<uint8_t>(cell + value);
      --remaining;  // modulo 256: a count byte of 0 lasts 256 cells
      drawCell(memory, mode, call, cellIndex, cell, kind, value);
    }
  }
  return call.result = Result::FrameComplete, call;
}
