// Any byte sequence must decode: arbitrary bytes go to FrameDecoder::decodeFrame, call after
// call until the stream is used up, and each call is checked against a plain model of the stream
// format (result, bytes taken and counted, cell history, every pixel). Guard regions around the
// cell history and the frame buffer, and the history bytes above the frame's cells, must keep
// their pattern; no call may take more than the per-call bound.
//
// Input: the first byte chooses the mode, the rest is the stream.
//   bit 0: Wide scale, bit 1: Screen4, bit 2: "on" stored as -7 instead of 1,
//   bit 3: Wide switches after every call; bit 4: the source lends its bytes in chunks of a
//   size chosen by bits 5-7, as memory sources do. A first byte of 0xEF or 0xFF makes one call
//   only, on the stream followed by endless marker-less noise (0xEF) or endless restart pairs
//   (0xFF), so that the call reaches the per-call bound (rare on purpose: a million bytes).
#include <cstring>

#include "decoder_model.h"
#include "fuzz_check.h"

namespace {

using FrameDecoder::kMaxBytesPerCall;
using FrameDecoder::Result;

GuardedMemory decoderMemory, modelMemory;

// Bytes that follow the input on an endless stream. Noise holds no marker (nor, read as pairs,
// a restart); restart pairs read out of step are one-cell runs of 0x81.
struct Fillers {
  uint8_t noise[kFillerBytes], restarts[kFillerBytes];
  Fillers() {
    for (size_t i = 0; i < kFillerBytes; ++i) noise[i] = 0x02, restarts[i] = i % 2 ? 0x81 : 0x01;
  }
};
const Fillers fillers;

void checkCall(Result result, const WatchedSource& source, int32_t counted, const ModelCall& expected) {
  const int32_t taken = static_cast<int32_t>(source.takenThisCall);
  check(source.takenThisCall <= kMaxBytesPerCall, "a call takes at most the per-call bound");
  check(counted == taken || (result == Result::SourceFailed && counted + 1 == taken),
        "the byte counter counts every byte taken, but a value byte whose count byte failed");
  check(result == expected.result, "result as the stream format says");
  check(source.takenThisCall == expected.taken, "bytes taken as the stream format says");
  check(counted == expected.counted, "bytes counted as the stream format says");
  checkGuards(decoderMemory);
  check(std::memcmp(decoderMemory.history, modelMemory.history, sizeof decoderMemory.history) == 0,
        "cell history as the stream format says");
  check(std::memcmp(decoderMemory.pixels, modelMemory.pixels, sizeof decoderMemory.pixels) == 0,
        "frame buffer as the pixel rules say");
}

// Decodes until the source fails (or, on the endless stream, once), checking every call.
template <class Source>
void decodeStream(Source& source, WatchedSource& watched, const Stream& stream, bool endless, int32_t on,
                  bool switchWide) {
  size_t modelPosition = 0;
  for (Result result = Result::FrameComplete; result != Result::SourceFailed;) {
    const ModelCall expected = modelDecode(stream, modelPosition, modelMemory, settings.wide != 0,
                                           settings.scr4 != 0);
    const int32_t countedBefore = FrameDecoder::decoderState.byteCounter;
    watched.takenThisCall = 0, watched.failedThisCall = false;
    result = FrameDecoder::decodeFrame(source);
    checkCall(result, watched, FrameDecoder::decoderState.byteCounter - countedBefore, expected);
    if (endless) return;
    if (switchWide) settings.wide = settings.wide ? 0 : on;
  }
  check(watched.position == stream.length, "decoding goes on until the stream is used up");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const int32_t on = mode & 4 ? -7 : 1;
  const bool endless = (mode | 0x10) == 0xFF;
  Stream stream{data + 1, size - 1, size - 1, mode & 0x10 ? fillers.restarts : fillers.noise};
  if (endless) stream.length = size - 1 + kMaxBytesPerCall + 2;
  settings = Settings{mode & 1 ? on : 0, mode & 2 ? on : 0, kDefaultReadSize};

  resetMemory(decoderMemory);
  resetMemory(modelMemory);
  FrameDecoder::decoderState = {decoderMemory.cells(), 0};
  frameBuffer.pixels = decoderMemory.picture();

  if (mode & 0x10) {
    static constexpr size_t kChunks[8] = {1, 2, 3, 7, 64, 255, 256, 65536};
    LendingSource source{{&stream}, kChunks[mode >> 5]};
    decodeStream(source, source.watched, stream, endless, on, mode & 8);
  } else {
    WatchedSource source{&stream};
    decodeStream(source, source, stream, endless, on, mode & 8);
  }
  return 0;
}
