// Per-frame decode time against a memory-write baseline measured in the same run: memset of
// the same picture area of the frame buffer. Run: build/native/bench/decode_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "clock.h"
#include "frame_decoder.h"

namespace {

using FrameFormat::kCellsPerFrame;

// One decoder and one picture for every benchmark, allocated before the first, as a program
// allocates them at start-up.
struct DecoderMemory {
  FrameDecoder decoder;
  FrameBuffer picture;
  DecoderMemory() {
    if (!decoder.allocate() || !picture.allocate()) std::abort();
  }
};
DecoderMemory memory;
// The clock a program without a tick count of its own passes: read at every call.
SteadyClock steadyClock;

// Key frame of runs 1 ... 40 cells long, of random values: what a real picture tends to give.
std::vector<uint8_t> typicalKeyFrame() {
  std::mt19937 random(1234);
  std::vector<uint8_t> stream = {0x01, 0x81};
  for (int cells = 0; cells < kCellsPerFrame;) {
    int run = std::uniform_int_distribution<int>(1, 40)(random);
    uint8_t value = static_cast<uint8_t>(random());
    if (value == 0x01 && run == 0x81) run = 0x80;
    stream.push_back(value);
    stream.push_back(static_cast<uint8_t>(run));
    cells += run;
  }
  return stream;
}

// Every cell its own pair: 111,614 bytes.
std::vector<uint8_t> worstCaseFrame() {
  std::vector<uint8_t> stream = {0x01, 0x81};
  for (int cell = 0; cell < kCellsPerFrame; ++cell) {
    stream.push_back(static_cast<uint8_t>(cell * 37));
    stream.push_back(1);
  }
  return stream;
}

// A delta frame that changes nothing: 218 pairs of 0 x 256, 438 bytes.
std::vector<uint8_t> noChangeDeltaFrame() {
  std::vector<uint8_t> stream = {0x00, 0x81};
  for (int pair = 0; pair < 218; ++pair) {
    stream.push_back(0);
    stream.push_back(0);
  }
  return stream;
}

void decodeFrames(benchmark::State& state, const std::vector<uint8_t>& stream) {
  const PictureMode mode{state.range(0) != 0, state.range(1) != 0};
  for (auto _ : state) {
    MemorySource source{stream.data(), stream.size()};
    if (memory.decoder.decodeFrame(source, memory.picture, mode, steadyClock) != FrameDecoder::Result::FrameComplete)
      state.SkipWithError("no frame");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

// The plain cell-by-cell loop, palette mode at normal scale, as a yardstick for the real one.
void decodeCellByCell(const std::vector<uint8_t>& stream) {
  size_t position = 2;
  uint8_t kind = stream[0], value = 0, remaining = 0;
  uint8_t* history = memory.decoder.cellHistory();
  for (int line = 0, index = 0; line < FrameFormat::kLines; ++line) {
    uint32_t* row = pictureRow(memory.picture.pixels.get(), line, false);
    for (int cell = 0; cell < FrameFormat::kCellsPerLine; ++cell, ++index) {
      if (remaining == 0) {
        value = stream[position];
        remaining = stream[position + 1];
        position += 2;
      }
      uint8_t c = kind ? value : static_cast<uint8_t>(history[index] + value);
      history[index] = c;
      --remaining;
      if (kind == 0 && value == 0) continue;
      row[2 * cell] = paletteColour(c & 15);
      row[2 * cell + 1] = paletteColour(c >> 4);
    }
  }
}

void BM_CellByCellYardstick(benchmark::State& state) {
  const std::vector<uint8_t> streams[3] = {typicalKeyFrame(), worstCaseFrame(), noChangeDeltaFrame()};
  const std::vector<uint8_t>& stream = streams[state.range(0)];
  for (auto _ : state) {
    decodeCellByCell(stream);
    benchmark::ClobberMemory();
  }
}

void BM_TypicalKeyFrame(benchmark::State& state) { decodeFrames(state, typicalKeyFrame()); }
void BM_WorstCaseFrame(benchmark::State& state) { decodeFrames(state, worstCaseFrame()); }
void BM_NoChangeDeltaFrame(benchmark::State& state) { decodeFrames(state, noChangeDeltaFrame()); }

void BM_MemsetBaseline(benchmark::State& state) {
  bool wide = state.range(0) != 0;
  const PictureSize size = pictureSize(wide);
  size_t rowBytes = static_cast<size_t>(size.width) * 4;
  int fill = 0;
  for (auto _ : state) {
    for (int row = 0; row < size.height; ++row)
      std::memset(&memory.picture.pixels[static_cast<size_t>(row) * kBufferWidth], fill, rowBytes);
    ++fill;
    benchmark::ClobberMemory();
  }
}

// Junk from a dead input at the device's rate, about 110 KB/s: the clock moves 1 ms for every
// 110 bytes taken. held_ms is how long one call would keep the program waiting.
class PacedJunk final : public Clock {
 public:
  explicit PacedJunk(std::vector<uint8_t> junk) : junk_(std::move(junk)) {}
  uint32_t milliseconds() override { return static_cast<uint32_t>(taken_ / 110); }
  int nextByte(uint8_t& byte) {
    byte = junk_[taken_++ % junk_.size()];
    return 0;
  }

 private:
  std::vector<uint8_t> junk_;
  uint64_t taken_ = 0;
};

void BM_JunkHold(benchmark::State& state) {
  static const std::vector<uint8_t> junks[4] = {{0x00}, {0x01}, {0x00, 0x01, 0x01, 0x00, 0x01}, {0x42}};
  double heldMs = 0;
  for (auto _ : state) {
    PacedJunk junk(junks[state.range(0)]);
    struct Source {
      PacedJunk* junk;
      int nextByte(uint8_t& byte) { return junk->nextByte(byte); }
    } source{&junk};
    if (memory.decoder.decodeFrame(source, memory.picture, PictureMode{}, junk) != FrameDecoder::Result::NoFrame)
      state.SkipWithError("a frame in the junk");
    heldMs = junk.milliseconds();
  }
  state.counters["held_ms"] = heldMs;
}

// Arguments: wide, scr4.
BENCHMARK(BM_MemsetBaseline)->ArgNames({"wide"})->Arg(0)->Arg(1);
BENCHMARK(BM_CellByCellYardstick)->ArgNames({"typical_worst_nochange"})->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_TypicalKeyFrame)->ArgNames({"wide", "scr4"})->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_WorstCaseFrame)->ArgNames({"wide", "scr4"})->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_NoChangeDeltaFrame)->ArgNames({"wide", "scr4"})->ArgsProduct({{0, 1}, {0, 1}});
// Junk: 0x00 bytes, 0x01 bytes, the two mixed, 0x42 bytes.
BENCHMARK(BM_JunkHold)->ArgNames({"junk"})->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
