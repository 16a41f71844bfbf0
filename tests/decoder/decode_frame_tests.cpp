#include "decoder_fixture.h"

using Result = FrameDecoder::Result;
using FrameFormat::kCellsPerFrame;
using FrameDecoding::kMaxBytesPerCall;
using FrameDecoding::kPatienceCheckBytes;

TEST_F(DecoderTest, WorkedExampleKeyThenDelta) {
  std::vector<uint8_t> key = frameStart(0x01);
  addPair(key, 0x21, 0x03);
  addPair(key, 0x9C, 0x01);
  addFullFrame(key, 0x44);
  ASSERT_EQ(decode(key), Result::FrameComplete);
  EXPECT_EQ(history[0], 0x21);
  EXPECT_EQ(history[2], 0x21);
  EXPECT_EQ(history[3], 0x9C);
  EXPECT_EQ(history[4], 0x44);
  EXPECT_EQ(history[kCellsPerFrame - 1], 0x44);

  pixels[0] = 0x123456;  // a cell the delta leaves alone keeps its pixel
  std::vector<uint8_t> delta = frameStart(0x00);
  addPair(delta, 0x00, 0x02);
  addPair(delta, 0x01, 0x01);
  addFullFrame(delta, 0x00);
  ASSERT_EQ(decode(delta), Result::FrameComplete);
  EXPECT_EQ(history[0], 0x21);
  EXPECT_EQ(history[1], 0x21);
  EXPECT_EQ(history[2], 0x22);
  EXPECT_EQ(history[3], 0x9C);
  EXPECT_EQ(pixel(0, 0), 0x123456u);
  EXPECT_EQ(pixel(0, 4), paletteColour(2));
  EXPECT_EQ(pixel(0, 5), paletteColour(2));
}

TEST_F(DecoderTest, MarkerSearchIsByteByByteAndStartsFreshEachCall) {
  // 0x7F 0x00 0x81: delta marker after the 0x00; a delta of 1 everywhere.
  std::vector<uint8_t> stream = {0x7F};
  for (uint8_t b : frameStart(0x00)) stream.push_back(b);
  addFullFrame(stream, 0x01);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[100], 0x01);

  // 0x02 0x81 is no marker; the search carries on to the key marker behind it.
  stream = {0x02, 0x81, 0x55, 0x01, 0x81};
  addFullFrame(stream, 0x07);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[100], 0x07);

  // A lone 0x81 first in a call is a delta marker, whatever the previous call ended with.
  stream = {0x01};
  size_t position = 0;
  EXPECT_EQ(decode(stream, position), Result::SourceFailed);
  stream = {0x81};
  addFullFrame(stream, 0x02);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[100], 0x09) << "a delta frame adds to the cells";
}

TEST_F(DecoderTest, RunLengthsAndCountZeroMeans256) {
  std::vector<uint8_t> stream = frameStart(0x01);
  addPair(stream, 0x05, 0x00);
  addPair(stream, 0x06, 0x01);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[0], 0x05);
  EXPECT_EQ(history[255], 0x05);
  EXPECT_EQ(history[256], 0x06);
  EXPECT_EQ(history[257], 0x00);
}

TEST_F(DecoderTest, RunsCrossLineEndsAndStopAtTheFrameEnd) {
  std::vector<uint8_t> stream = frameStart(0x01);
  addPair(stream, 0x00, 210);
  addPair(stream, 0x9C, 6);  // cells 210 ... 215: three on line 0, three on line 1
  // Fill up to 5 cells before the end, then a run of 200 that must stop at the last cell.
  int filled = 216;
  while (kCellsPerFrame - filled > 255 + 5) addPair(stream, 0x00, 255), filled += 255;
  addPair(stream, 0x00, static_cast<uint8_t>(kCellsPerFrame - 5 - filled));
  addPair(stream, 0xFF, 200);
  const std::vector<uint8_t> next = {0x7E, 0x01, 0x81};  // the next call's marker search takes these
  stream.insert(stream.end(), next.begin(), next.end());
  addFullFrame(stream, 0x11);

  size_t position = 0;
  ASSERT_EQ(decode(stream, position), Result::FrameComplete);
  EXPECT_EQ(position, stream.size() - 436 - next.size());
  EXPECT_EQ(pixel(0, 2 * 212), paletteColour(12));  // last cell of line 0
  EXPECT_EQ(pixel(1, 0), paletteColour(12));       // first cell of line 1
  EXPECT_EQ(pixel(1, 5), paletteColour(9));
  EXPECT_EQ(pixel(1, 6), 0u);
  EXPECT_EQ(history[kCellsPerFrame - 1], 0xFF);
  EXPECT_EQ(pixel(261, 425), paletteColour(15));
  EXPECT_EQ(decoder.lastCallBytes(), position);

  ASSERT_EQ(decode(stream, position), Result::FrameComplete);
  EXPECT_EQ(history[0], 0x11);
  EXPECT_EQ(position, stream.size());
}

TEST_F(DecoderTest, RestartPairAndTheDataPairZero81) {
  std::vector<uint8_t> stream = frameStart(0x00);
  addPair(stream, 0x03, 10);
  addPair(stream, 0x01, 0x81);  // restart: a key frame from the top-left, the pair covers no cell
  addPair(stream, 0x00, 0x81);  // data: 129 cells of 0 in a key frame
  addPair(stream, 0x42, 0x02);
  addFullFrame(stream, 0x08);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[0], 0x00);
  EXPECT_EQ(history[128], 0x00);
  EXPECT_EQ(history[129], 0x42);
  EXPECT_EQ(history[130], 0x42);
  EXPECT_EQ(history[131], 0x08);

  // In a delta frame 0x00 0x81 keeps 129 cells as they were.
  stream = frameStart(0x00);
  addPair(stream, 0x00, 0x81);
  addPair(stream, 0x01, 0x01);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[128], 0x00);
  EXPECT_EQ(history[129], 0x43);
}

TEST_F(DecoderTest, AllZeroDeltaChangesNothing) {
  for (size_t i = 0; i < kCellsPerFrame; ++i) history[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < kPixelCount; ++i) pixels[i] = static_cast<uint32_t>(i);
  const std::vector<uint8_t> historyBefore(history, history + FrameDecoder::kCellHistoryBytes);
  const std::vector<uint32_t> pixelsBefore(pixels, pixels + kPixelCount);
  std::vector<uint8_t> stream = frameStart(0x00);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_TRUE(std::equal(historyBefore.begin(), historyBefore.end(), history));
  EXPECT_TRUE(std::equal(pixelsBefore.begin(), pixelsBefore.end(), pixels));
}

TEST_F(DecoderTest, DeltaBeforeAnyKeyFrameAddsToZero) {
  std::vector<uint8_t> stream = frameStart(0x00);
  addPair(stream, 0xF3, 0x00);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(history[255], 0xF3);
  EXPECT_EQ(pixel(0, 0), paletteColour(3));
  EXPECT_EQ(pixel(0, 1), paletteColour(15));
}

TEST_F(DecoderTest, CallBytesCountSearchedBytesAndPairs) {
  std::vector<uint8_t> stream = frameStart(0x01);
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(decoder.lastCallBytes(), 438u);

  stream = {0x10, 0x20, 0x30, 0x01, 0x81};  // three skipped bytes and a marker
  addFullFrame(stream, 0x00);
  ASSERT_EQ(decode(stream), Result::FrameComplete);
  EXPECT_EQ(decoder.lastCallBytes(), 441u);
}

TEST_F(DecoderTest, SourceFailureMidFrameKeepsWhatWasDecoded) {
  std::vector<uint8_t> stream = frameStart(0x01);
  addFullFrame(stream, 0xFF);
  ASSERT_EQ(decode(stream), Result::FrameComplete);

  stream = frameStart(0x01);
  for (int i = 0; i < 100; ++i) addPair(stream, 0x11, 0);  // 25,600 cells, then a lone value byte
  stream.push_back(0x22);
  EXPECT_EQ(decode(stream), Result::SourceFailed);
  EXPECT_EQ(history[25599], 0x11);
  EXPECT_EQ(history[25600], 0xFF);
  EXPECT_EQ(pixel(0, 0), paletteColour(1));
  EXPECT_EQ(pixel(261, 0), paletteColour(15));
  EXPECT_EQ(decoder.lastCallBytes(), 202u) << "the half pair is not counted";

  EXPECT_EQ(decode({}), Result::SourceFailed);
  EXPECT_EQ(decode({0x33, 0x44}), Result::SourceFailed);
}

TEST_F(DecoderTest, CallGivesUpOnStreamsThatNeverCompleteAFrame) {
  // No marker at all: the call stops after the bound and the next call carries on.
  std::vector<uint8_t> stream(kMaxBytesPerCall + 5, 0x42);
  for (uint8_t b : frameStart(0x01)) stream.push_back(b);
  addFullFrame(stream, 0x0A);
  size_t position = 0;
  EXPECT_EQ(decode(stream, position), Result::NoFrame);
  EXPECT_EQ(position, kMaxBytesPerCall);
  EXPECT_EQ(decoder.lastCallBytes(), kMaxBytesPerCall) << "skipped bytes count towards the next title";
  EXPECT_EQ(decode(stream, position), Result::FrameComplete);
  EXPECT_EQ(history[7], 0x0A);

  // Endless restarts.
  stream = frameStart(0x01);
  while (stream.size() < 2 * kMaxBytesPerCall) addPair(stream, 0x01, 0x81);
  position = 0;
  EXPECT_EQ(decode(stream, position), Result::NoFrame);
  EXPECT_LE(position, kMaxBytesPerCall);
  EXPECT_GE(position, kMaxBytesPerCall - 1);

  // The largest legal frame stays far inside the bound: a long search, then one pair per cell.
  stream.assign(100000, 0x55);
  for (uint8_t b : frameStart(0x01)) stream.push_back(b);
  for (int i = 0; i < kCellsPerFrame; ++i) addPair(stream, static_cast<uint8_t>(i), 1);
  EXPECT_EQ(decode(stream), Result::FrameComplete);
}

// Bytes that trickle in, as from a device that sends junk slowly: the clock moves 1 ms a byte.
struct TricklingSource {
  MemorySource bytes;
  ManualClock* clock;  // a pointer: the decoder copies and assigns its source
  int nextByte(uint8_t& byte) {
    clock->advance(1);
    return bytes.nextByte(byte);
  }
};

TEST_F(DecoderTest, CallGivesUpOnATrickleThatNeverCompletesAFrame) {
  // Without a marker: the search looks at the clock every kPatienceCheckBytes bytes, and gives up
  // at the first look after a second has passed, long before the byte bound. The clock wraps
  // round on the way.
  std::vector<uint8_t> stream(kMaxBytesPerCall, 0x42);
  clock = ManualClock(0xFFFFFF00u);
  TricklingSource junk{{stream.data(), stream.size()}, &clock};
  EXPECT_EQ(decoder.decodeFrame(junk, picture, mode, clock), Result::NoFrame);
  EXPECT_EQ(junk.bytes.position, kPatienceCheckBytes - 1);
  EXPECT_EQ(decoder.lastCallBytes(), junk.bytes.position);

  // Endless restarts: the call gives up at the first restart pair after a second.
  stream = frameStart(0x01);
  while (stream.size() < kMaxBytesPerCall) addPair(stream, 0x01, 0x81);
  TricklingSource restarts{{stream.data(), stream.size()}, &clock};
  EXPECT_EQ(decoder.decodeFrame(restarts, picture, mode, clock), Result::NoFrame);
  EXPECT_EQ(restarts.bytes.position, 1002u);
  EXPECT_EQ(decoder.lastCallBytes(), restarts.bytes.position);
}

// Junk from a dead input at the device's rate: the clock moves 1 ms for every 110 bytes.
struct DeviceRateSource {
  MemorySource bytes;
  ManualClock* clock;
  int nextByte(uint8_t& byte) {
    if (bytes.position % 110 == 0) clock->advance(1);
    return bytes.nextByte(byte);
  }
};

TEST_F(DecoderTest, PatienceHoldsWhateverTheJunkAndAMarkerSplitByItIsStillRead) {
  const std::vector<uint8_t> junks[] = {{0x00}, {0x01}, {0x01, 0x00, 0x00, 0x01, 0x01}};
  for (const std::vector<uint8_t>& junk : junks) {
    SCOPED_TRACE(testing::Message() << "junk starting " << int(junk[0]) << ", " << junk.size() << " long");
    clock = ManualClock();
    std::vector<uint8_t> stream(kMaxBytesPerCall + 1024);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = junk[i % junk.size()];
    DeviceRateSource source{{stream.data(), stream.size()}, &clock};
    const uint32_t start = clock.milliseconds();
    EXPECT_EQ(decoder.decodeFrame(source, picture, mode, clock), Result::NoFrame);
    EXPECT_LE(clock.milliseconds() - start, 1010u) << "held past the second of patience";
    const size_t stop = source.bytes.position;

    // The junk up to the stop, then a marker whose second byte comes in the next call: 0x01 0x81
    // is a key frame, 0x00 0x81 a delta one.
    const uint8_t last = stream[stop - 1];
    stream.resize(stop);
    stream.push_back(FrameFormat::kMarker);
    addFullFrame(stream, 0x05);
    std::fill(history, history + kCellsPerFrame, 0x10);
    source = DeviceRateSource{{stream.data(), stream.size()}, &clock};
    clock = ManualClock();
    ASSERT_EQ(decoder.decodeFrame(source, picture, mode, clock), Result::NoFrame);
    ASSERT_EQ(source.bytes.position, stop);
    ASSERT_EQ(decoder.decodeFrame(source, picture, mode, clock), Result::FrameComplete);
    EXPECT_EQ(history[0], last == 0x01 ? 0x05 : 0x15);
  }
}
