// Any byte sequence must decode: arbitrary bytes go to FrameDecoder::decodeFrame, call after
// call until the stream is used up, and each call is checked against a plain model of the stream
// format (result, bytes taken and reported, cell history, every pixel). Guard regions around the
// picture, and the history bytes above the frame's cells, must keep their pattern (around the
// cell history AddressSanitizer keeps watch); no call may take more than the per-call bound. The
// decoder's clock stands still, so that a call ends by the stream alone (never by the decoder's
// patience) and the model can say exactly how.
//
// Input: the first byte chooses the mode, the rest is the stream.
//   bit 0: Wide scale, bit 1: Screen4, bit 2: "on" stored as -7 instead of 1 in the settings,
//   bit 3: Wide switches after every call; bit 4: the source shows its bytes in chunks of a
//   size chosen by bits 5-7, as memory sources do. A first byte of 0xEF or 0xFF makes one call
//   only, on the stream followed by endless marker-less noise (0xEF) or endless restart pairs
//   (0xFF), so that the call reaches the per-call bound (rare on purpose: a million bytes).
#include <cstring>

#include "check.h"
#include "decoder_model.h"
#include "manual_clock.h"
#include "settings.h"

namespace {

using FrameDecoding::kMaxBytesPerCall;
using FrameFormat::kCellsPerFrame;
using Result = FrameDecoder::Result;

constexpr size_t kGuardPixels = 1024;
constexpr uint8_t kGuardByte = 0xA5;  // 0xA5A5A5A5 is no pixel

// The picture lies between two guard regions: the FrameBuffer borrows the middle of this block,
// and gives it back before it goes.
struct GuardedPicture {
  uint32_t pixels[kGuardPixels + kPixels + kGuardPixels];
  FrameBuffer frame;
  GuardedPicture() { frame.pixels.reset(pixels + kGuardPixels); }
  ~GuardedPicture() { (void)frame.pixels.release(); }
};

// Allocated once, as a program does; every input starts from zeroed memory.
struct RealDecoder {
  FrameDecoder decoder;
  GuardedPicture picture;
  ManualClock clock;  // never moved
  RealDecoder() { REQUIRE(decoder.allocate(), "the cell history can be allocated"); }
};
RealDecoder real;
ModelMemory model;

void resetMemory() {
  uint8_t* history = real.decoder.cellHistory();
  std::memset(history, 0, kCellsPerFrame);
  std::memset(history + kCellsPerFrame, kGuardByte, FrameDecoder::kCellHistoryBytes - kCellsPerFrame);
  std::memset(real.picture.pixels, kGuardByte, sizeof real.picture.pixels);
  std::memset(real.picture.frame.pixels.get(), 0, kBufferBytes);
  std::memset(&model, 0, sizeof model);
  real.decoder.restartSearch();
}

void checkGuards() {
  const uint8_t* history = real.decoder.cellHistory();
  for (int i = kCellsPerFrame; i < FrameDecoder::kCellHistoryBytes; ++i)
    REQUIRE(history[i] == kGuardByte, "cell history above cell 55,805 untouched");
  const uint32_t guardPixel = kGuardByte * 0x01010101u;
  for (size_t i = 0; i < kGuardPixels; ++i) {
    REQUIRE(real.picture.pixels[i] == guardPixel, "guard below the frame buffer");
    REQUIRE(real.picture.pixels[kGuardPixels + kPixels + i] == guardPixel, "guard above the frame buffer");
  }
}

// Bytes that follow the input on an endless stream. Noise holds no marker (nor, read as pairs,
// a restart); restart pairs read out of step are one-cell runs of 0x81.
struct Fillers {
  uint8_t noise[kFillerBytes], restarts[kFillerBytes];
  Fillers() {
    for (size_t i = 0; i < kFillerBytes; ++i) noise[i] = 0x02, restarts[i] = i % 2 ? 0x81 : 0x01;
  }
};
const Fillers fillers;

void checkCall(Result result, const WatchedSource& source, const ModelCall& expected) {
  const uint32_t taken = source.takenThisCall, reported = real.decoder.lastCallBytes();
  REQUIRE(taken <= kMaxBytesPerCall, "a call takes at most the per-call bound");
  REQUIRE(reported == taken || (result == Result::SourceFailed && reported + 1 == taken),
        "the call reports every byte taken, but a value byte whose count byte failed");
  REQUIRE(result == expected.result, "result as the stream format says");
  REQUIRE(taken == expected.taken, "bytes taken as the stream format says");
  REQUIRE(reported == expected.counted, "bytes reported as the stream format says");
  checkGuards();
  REQUIRE(std::memcmp(real.decoder.cellHistory(), model.history, kCellsPerFrame) == 0,
        "cell history as the stream format says");
  REQUIRE(std::memcmp(real.picture.frame.pixels.get(), model.pixels, kBufferBytes) == 0,
        "frame buffer as the pixel rules say");
}

// Decodes until the source fails (or, on the endless stream, once), checking every call.
template <class Source>
void decodeStream(Source& source, WatchedSource& watched, const Stream& stream, bool endless, Settings settings,
                  int32_t on, bool switchWide) {
  size_t modelPosition = 0;
  for (Result result = Result::FrameComplete; result != Result::SourceFailed;) {
    const PictureMode mode = settings.pictureMode();
    const ModelCall expected = modelDecode(stream, modelPosition, model, mode);
    watched.takenThisCall = 0, watched.failedThisCall = false;
    result = real.decoder.decodeFrame(source, real.picture.frame, mode, real.clock);
    checkCall(result, watched, expected);
    if (endless) return;
    if (switchWide) settings.wide = settings.wide ? 0 : on;
  }
  REQUIRE(watched.position == stream.length, "decoding goes on until the stream is used up");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const int32_t on = mode & 4 ? -7 : 1;
  const bool endless = (mode | 0x10) == 0xFF;
  Stream stream{data + 1, size - 1, size - 1, mode & 0x10 ? fillers.restarts : fillers.noise};
  if (endless) stream.length = size - 1 + kMaxBytesPerCall + 2;
  const Settings settings{mode & 1 ? on : 0, mode & 2 ? on : 0, kDefaultReadSize};
  resetMemory();

  if (mode & 0x10) {
    static constexpr size_t kChunks[8] = {1, 2, 3, 7, 64, 255, 256, 65536};
    ShowingSource source{{&stream}, kChunks[mode >> 5]};
    decodeStream(source, source.watched, stream, endless, settings, on, mode & 8);
  } else {
    WatchedSource source{&stream};
    decodeStream(source, source, stream, endless, settings, on, mode & 8);
  }
  return 0;
}
