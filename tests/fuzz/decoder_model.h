// The decoder fuzz target's oracle: a plain cell-by-cell model of the stream format and the
// pixel rules, the memory it works in, and the watched byte sources the real decoder reads.
// Built without coverage feedback, so that the fuzzer steers by the decoder's branches alone,
// and the per-byte work stays cheap.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame_decoder.h"

constexpr size_t kPixels = kBufferBytes / 4;

// The model's cell history and picture, laid out as the decoder's.
struct ModelMemory {
  uint8_t history[FrameDecoder::kCellHistoryBytes];
  uint32_t pixels[kPixels];
  uint8_t searchCarry;  // the last byte of a search that gave up, where the next one starts
};

// The stream under test: `data`, then `filler` (kFillerBytes, repeated) up to `length` bytes.
constexpr size_t kFillerBytes = 4096;
struct Stream {
  const uint8_t* data;
  size_t size;
  size_t length;
  const uint8_t* filler;
  uint8_t at(size_t position) const {
    return position < size ? data[position] : filler[(position - size) % kFillerBytes];
  }
};

// The decoder's byte source over the stream: watches what one call takes.
struct WatchedSource {
  const Stream* stream;
  size_t position = 0;
  uint32_t takenThisCall = 0;
  bool failedThisCall = false;
  int nextByte(uint8_t& byte);
};

// The same, showing its bytes as a memory source does: up to `chunk` at a time, never across
// the end of the data or of a filler block, so that pairs get split between what is shown.
struct ShowingSource {
  WatchedSource watched;
  size_t chunk;
  size_t shown = 0;
  int nextByte(uint8_t& byte) { return watched.nextByte(byte); }
  size_t unread(const uint8_t*& bytes);
  void consume(size_t count);
};

struct ModelCall {
  FrameDecoder::Result result;
  uint32_t taken = 0;          // bytes taken from the stream
  uint32_t counted = 0;        // bytes the call reports for the statistics
  uint32_t screen4Colour = 0;  // running Screen4 colour: black until a table byte comes
};

// What one decodeFrame call does to `memory` with the stream from `position` on.
ModelCall modelDecode(const Stream& stream, size_t& position, ModelMemory& memory, PictureMode mode);
