// The decoder fuzz target's oracle: a plain cell-by-cell model of the stream format and the
// pixel rules, the guarded memory it and the real decoder work in, the guard checks, the
// watched byte source and a clock that stands still. Built without coverage feedback, so that
// the fuzzer steers by the decoder's branches alone, and the per-byte work stays cheap.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame_decoder.h"

constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kGuardByte = 0xA5;  // also fills the frame buffer's guards: 0xA5A5A5A5 is no pixel
constexpr size_t kGuardPixels = kGuardBytes / 4;
constexpr size_t kPixels = kBufferBytes / 4;

// A cell history and a frame buffer, each with guard regions on both sides.
struct GuardedMemory {
  uint8_t history[kGuardBytes + FrameDecoder::kCellHistoryBytes + kGuardBytes];
  uint32_t pixels[kGuardPixels + kPixels + kGuardPixels];
  uint8_t* cells() { return history + kGuardBytes; }
  uint32_t* picture() { return pixels + kGuardPixels; }
};

// Zero cells and a black picture; guards, and the history bytes above the frame's cells, set.
void resetMemory(GuardedMemory& memory);
// Aborts unless every guard byte and every history byte above cell 55,805 holds its pattern.
void checkGuards(GuardedMemory& memory);

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

// The same, lending its bytes as a memory source does: up to `chunk` at a time, never across
// the end of the data or of a filler block, so that pairs get split between lends.
struct LendingSource {
  WatchedSource watched;
  size_t chunk;
  size_t lent = 0;
  int nextByte(uint8_t& byte) { return watched.nextByte(byte); }
  size_t lend(const uint8_t*& bytes);
  void take(size_t count);
};

struct ModelCall {
  FrameDecoder::Result result;
  uint32_t taken = 0;          // bytes taken from the stream
  int32_t counted = 0;         // bytes added to the byte counter
  uint32_t screen4Colour = 0;  // running Screen4 colour: black until a table byte comes
};

// What one decodeFrame call does to `memory` with the stream from `position` on.
ModelCall modelDecode(const Stream& stream, size_t& position, GuardedMemory& memory, bool wide,
                      bool screen4);
