// The encoder must round-trip: arbitrary pictures, each sent as a key or a delta frame, are
// encoded and decoded by the real decoder, which must give every cell back and consume each
// frame exactly. The encoding starts with the right marker, never carries the restart pair
// 0x01 0x81 as data, stays within kMaxEncodedFrameBytes and writes nothing beyond it.
//
// Input: frames, one after another, each drawn over the previous picture:
//   a header byte: bit 0 key frame, bits 1-7 the number of drawing steps;
//   then per step three bytes (kind, value, length): kind % 4 is 0 keep, 1 fill with value,
//   2 add value to the previous cells, 3 copy cells from the input that follows; the length is
//   length + 1 cells, or (length + 1) x 128 cells when kind has bit 7 set.
#include <algorithm>
#include <cstring>

#include "check.h"
#include "frame_decoder.h"
#include "input_cursor.h"
#include "manual_clock.h"
#include "stream_encoder.h"

namespace {

using FrameFormat::kCellsPerFrame;

constexpr size_t kGuardBytes = 4096;
constexpr uint8_t kGuardByte = 0x5A;
constexpr int kMaxFrames = 12;

uint8_t picture[kCellsPerFrame], previousPicture[kCellsPerFrame];
uint8_t encoded[kMaxEncodedFrameBytes + kGuardBytes];

// Allocated once, as a program does.
struct Decoder {
  FrameDecoder decoder;
  FrameBuffer picture;
  ManualClock clock;
  Decoder() { REQUIRE(decoder.allocate() && picture.allocate(), "the decoder's memory can be allocated"); }
};
Decoder real;

void drawPicture(InputCursor& input, int steps) {
  int cell = 0;
  for (int step = 0; step < steps && cell < kCellsPerFrame && !input.atEnd(); ++step) {
    const uint8_t kind = input.next(), value = input.next();
    int length = input.next() + 1;
    if (kind & 0x80) length *= 128;
    length = std::min(length, kCellsPerFrame - cell);
    for (int end = cell + length; cell < end; ++cell) {
      switch (kind % 4) {
        case 0: break;
        case 1: picture[cell] = value; break;
        case 2: picture[cell] = static_cast<uint8_t>(picture[cell] + value); break;
        default: picture[cell] = input.next(); break;
      }
    }
  }
}

// Walks the pairs after the marker: no restart pair, and the runs cover the frame exactly.
void checkPairs(size_t size) {
  int cells = 0;
  size_t at = 2;
  for (; at + 1 < size && cells < kCellsPerFrame; at += 2) {
    const uint8_t value = encoded[at], count = encoded[at + 1];
    REQUIRE(!FrameFormat::isRestartPair(value, count), "the restart pair 0x01 0x81 never appears as data");
    cells += FrameFormat::runLength(count);
  }
  REQUIRE(at == size, "the encoding is the marker and whole pairs, nothing after the frame");
  REQUIRE(cells == kCellsPerFrame, "the runs cover exactly the frame's cells");
}

void encodeAndDecode(bool key) {
  std::memset(encoded, kGuardByte, sizeof encoded);
  const size_t size = encodeFrame(picture, key ? nullptr : previousPicture, encoded);
  REQUIRE(size >= 4 && size <= kMaxEncodedFrameBytes, "encoded size within the bound");
  for (size_t i = kMaxEncodedFrameBytes; i < sizeof encoded; ++i)
    REQUIRE(encoded[i] == kGuardByte, "the encoder writes nothing beyond kMaxEncodedFrameBytes");
  REQUIRE(encoded[0] == (key ? FrameFormat::kKeyFrame : FrameFormat::kDeltaFrame) &&
            encoded[1] == FrameFormat::kMarker,
        "the frame starts with the marker of its kind");
  checkPairs(size);

  MemorySource source{encoded, size};
  REQUIRE(real.decoder.decodeFrame(source, real.picture, PictureMode{}, real.clock) == FrameDecoder::Result::FrameComplete,
        "the frame decodes");
  REQUIRE(source.position == size, "decoding takes exactly the encoded frame");
  REQUIRE(std::memcmp(real.decoder.cellHistory(), picture, kCellsPerFrame) == 0, "decoding gives the picture back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputCursor input{data, size};
  std::memset(picture, 0, sizeof picture);
  std::memset(previousPicture, 0, sizeof previousPicture);
  std::memset(real.decoder.cellHistory(), 0, FrameDecoder::kCellHistoryBytes);

  for (int frame = 0; frame < kMaxFrames && !input.atEnd(); ++frame) {
    const uint8_t header = input.next();
    drawPicture(input, header >> 1);
    encodeAndDecode(header & 1);
    std::memcpy(previousPicture, picture, sizeof picture);
  }
  return 0;
}
