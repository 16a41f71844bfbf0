// The decoder reading whole streams through the real reader, against the same stream decoded
// from memory: every frame must come out the same whatever the read size and however the
// driver cuts the stream into reads.
#include <cstring>

#include "frame_decoder.h"
#include "link_fixture.h"
#include "stream_encoder.h"

namespace {

using FrameDecoder::kCellsPerFrame;
using FrameDecoder::Result;

uint32_t nextRandom(uint32_t& state) {
  state ^= state << 13, state ^= state >> 17, state ^= state << 5;
  return state;
}

// Cells in runs of random length and value, as a picture with flat areas gives.
void randomCells(uint32_t& state, uint8_t* cells) {
  int cell = 0;
  while (cell < kCellsPerFrame) {
    int run = std::min<int>(1 + nextRandom(state) % 700, kCellsPerFrame - cell);
    std::memset(cells + cell, static_cast<int>(nextRandom(state) & 0xFF), run);
    cell += run;
  }
}

void append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& encoded, size_t size) {
  stream.insert(stream.end(), encoded.begin(), encoded.begin() + static_cast<long>(size));
}

// A key frame, delta frames, bytes between frames, a frame restarted by the key-frame marker,
// and the beginning of a frame that never ends.
std::vector<uint8_t> testStream() {
  uint32_t state = 2463534242u;
  std::vector<uint8_t> cells(kCellsPerFrame), previous(kCellsPerFrame), encoded(kMaxEncodedFrameBytes), stream;
  randomCells(state, cells.data());
  append(stream, encoded, encodeFrame(cells.data(), nullptr, encoded.data()));
  for (int frame = 0; frame < 4; ++frame) {
    previous = cells;
    for (int i = 0; i < 3000; ++i) cells[nextRandom(state) % kCellsPerFrame] = static_cast<uint8_t>(nextRandom(state));
    append(stream, encoded, encodeFrame(cells.data(), previous.data(), encoded.data()));
    if (frame == 1) stream.insert(stream.end(), {0x42, 0x81, 0x7F, 0x02, 0x81, 0x10});
  }
  size_t size = encodeFrame(cells.data(), previous.data(), encoded.data());
  append(stream, encoded, 2 + 2 * 40);  // a delta frame cut off after 40 pairs ...
  randomCells(state, cells.data());
  size = encodeFrame(cells.data(), nullptr, encoded.data());
  append(stream, encoded, size);  // ... and restarted by a whole key frame
  append(stream, encoded, 2 + 2 * 100);
  return stream;
}

uint64_t frameChecksum(const std::vector<uint8_t>& history, const std::vector<uint32_t>& pixels) {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint64_t value) { hash = (hash ^ value) * 1099511628211ull; };
  for (int i = 0; i < kCellsPerFrame; ++i) mix(history[i]);
  for (uint32_t pixel : pixels) mix(pixel);
  return hash;
}

class StreamThroughLinkTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    history.assign(FrameDecoder::kCellHistoryBytes, 0);
    pixels.assign(kBufferWidth * kBufferHeight, 0);
    FrameDecoder::decoderState = {history.data(), 0};
    frameBuffer.pixels = pixels.data();
  }

  // Decodes frames until the source fails; the checksum of each completed frame.
  template <class Source>
  std::vector<uint64_t> decodeAll(Source& source) {
    std::vector<uint64_t> checksums;
    Result result;
    while ((result = FrameDecoder::decodeFrame(source)) == Result::FrameComplete)
      checksums.push_back(frameChecksum(history, pixels));
    EXPECT_EQ(result, Result::SourceFailed);
    return checksums;
  }

  std::vector<uint8_t> history;
  std::vector<uint32_t> pixels;
};

TEST_F(StreamThroughLinkTest, DecodesTheSameFramesAsFromMemoryForAnyReadSizeAndCut) {
  const std::vector<uint8_t> stream = testStream();
  FrameDecoder::MemorySource memory{stream.data(), stream.size()};
  const std::vector<uint64_t> expected = decodeAll(memory);
  ASSERT_EQ(expected.size(), 6u);
  ASSERT_EQ(FrameDecoder::decoderState.byteCounter, static_cast<int32_t>(stream.size()));

  struct Case {
    int32_t bufsize;
    std::vector<uint32_t> cuts;
  };
  const Case cases[] = {{32, {65536}}, {32, {7, 32, 1, 19}}, {1, {1}}, {256, {256, 3, 255, 128}}, {1000, {65536}}};
  for (const Case& reads : cases) {
    SCOPED_TRACE("bufsize " + std::to_string(reads.bufsize));
    SetUp();
    settings.bufsize = reads.bufsize;
    FakeD2xx::driver.stream = stream;
    FakeD2xx::driver.chunkSizes = reads.cuts;
    ASSERT_EQ(DeviceLink::open(), 0);
    StreamReader::DeviceSource device;
    EXPECT_EQ(decodeAll(device), expected);
    EXPECT_EQ(FrameDecoder::decoderState.byteCounter, static_cast<int32_t>(stream.size()));
    EXPECT_EQ(StreamReader::readerState.lastRefill, StreamReader::RefillResult::TimedOut);
    EXPECT_LE(FakeD2xx::driver.largestReadCount, static_cast<uint32_t>(sanitizedReadSize(reads.bufsize)));
  }
}

}  // namespace
