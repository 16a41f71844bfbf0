// The viewer decoding whole streams through the D2XX link and the real reader, against the
// same stream decoded from memory: every frame must come out the same whatever the read size
// and however the driver cuts the stream into reads.
#include <cstring>
#include <type_traits>

#include "frame_checksum.h"
#include "link_fixture.h"
#include "manual_clock.h"
#include "stream_encoder.h"
#include "viewer.h"

namespace {

// The title points into the viewer's own statistics: a copy's would point into the original.
static_assert(!std::is_copy_constructible_v<Viewer>);

using FrameFormat::kCellsPerFrame;

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

// The checksum of every frame the decoder completes from memory, until the stream runs out.
std::vector<uint64_t> decodeFromMemory(const std::vector<uint8_t>& stream) {
  FrameDecoder decoder;
  FrameBuffer picture;
  ManualClock clock;
  EXPECT_TRUE(decoder.allocate() && picture.allocate());
  MemorySource memory{stream.data(), stream.size()};
  std::vector<uint64_t> checksums;
  uint32_t bytes = 0;
  while (decoder.decodeFrame(memory, picture, PictureMode{}, clock) == FrameDecoder::Result::FrameComplete)
    checksums.push_back(frameChecksum(decoder.cellHistory(), picture)), bytes += decoder.lastCallBytes();
  EXPECT_EQ(bytes + decoder.lastCallBytes(), stream.size());
  return checksums;
}

TEST_F(LinkTest, ViewerDecodesTheSameFramesAsFromMemoryForAnyReadSizeAndCut) {
  const std::vector<uint8_t> stream = testStream();
  const std::vector<uint64_t> expected = decodeFromMemory(stream);
  ASSERT_EQ(expected.size(), 6u);

  struct Case {
    int32_t bufsize;
    std::vector<uint32_t> cuts;
  };
  const Case cases[] = {{32, {65536}}, {32, {7, 32, 1, 19}}, {1, {1}}, {256, {256, 3, 255, 128}}, {1000, {65536}}};
  for (const Case& reads : cases) {
    SCOPED_TRACE("bufsize " + std::to_string(reads.bufsize));
    SetUp();
    driver().stream = stream;
    driver().chunkSizes = reads.cuts;
    ManualClock clock;
    Viewer viewer(link(), clock);
    ASSERT_EQ(viewer.openDevice(reads.bufsize), OpenResult::Opened);
    ASSERT_TRUE(viewer.allocateBuffers());
    std::vector<uint64_t> checksums;
    uint32_t bytes = 0;
    for (TickResult result; (result = viewer.tick(PictureMode{})) != TickResult::DeviceFailed;) {
      ASSERT_EQ(result, TickResult::FrameShown);
      checksums.push_back(frameChecksum(viewer.decoder().cellHistory(), viewer.picture()));
      bytes += viewer.decoder().lastCallBytes();
    }
    EXPECT_EQ(checksums, expected);
    EXPECT_EQ(bytes + viewer.decoder().lastCallBytes(), stream.size());
    EXPECT_EQ(viewer.reader().lastRefill(), ReadResult::TimedOut);
    EXPECT_LE(driver().largestReadCount, static_cast<uint32_t>(sanitizedReadSize(reads.bufsize)));
  }
}

}  // namespace
