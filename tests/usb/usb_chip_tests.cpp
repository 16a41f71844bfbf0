// The emulated chip's own bookkeeping, which the tests in the virtual machine take on trust: a
// count of dropped bytes that stayed at 0 whatever happened would let every streaming run pass.
#include <gtest/gtest.h>

#include <vector>

#include "usb_chip.h"

namespace {

using std::chrono::milliseconds;
constexpr uint32_t kBytesPerSecond = 100000;  // 100 bytes a millisecond

// The test pattern's first bytes, as the chip sends them.
std::vector<uint8_t> patternBytes(size_t count) {
  TestPattern pattern;
  std::vector<uint8_t> frame(kMaxEncodedFrameBytes), bytes;
  while (bytes.size() < count) bytes.insert(bytes.end(), frame.begin(), frame.begin() + nextPatternFrame(pattern, frame.data()));
  bytes.resize(count);
  return bytes;
}

// Splits bulk IN data into its packets' stream bytes; each packet must start with the status.
std::vector<uint8_t> streamBytesOf(const std::vector<uint8_t>& data, size_t packetBytes = 64) {
  std::vector<uint8_t> bytes;
  for (size_t packet = 0; packet < data.size(); packet += packetBytes) {
    EXPECT_EQ(data[packet], 0x01);
    EXPECT_EQ(data[packet + 1], 0x60);
    bytes.insert(bytes.end(), data.begin() + packet + 2, data.begin() + std::min(data.size(), packet + packetBytes));
  }
  return bytes;
}

struct ChipTest : ::testing::Test {
  StreamSource source;
  UsbChip::Time::time_point start = UsbChip::Time::now();
  std::unique_ptr<UsbChip> chip;

  void SetUp() override {
    source.bytesPerSecond = kBytesPerSecond;
    std::string error;
    ASSERT_TRUE(source.load(error));
    chip = std::make_unique<UsbChip>(source, UsbChip::Config{}, start, nullptr, nullptr);
  }
  void at(int ms) { chip->advanceTo(start + milliseconds(ms)); }
};

// Nobody reading: the buffer keeps the first 256 bytes and loses the rest, which does not count
// against a host that never asked. The first transfer then gets those 256 bytes, and the
// stream goes on from where the chip is, with the lost stretch missing.
TEST_F(ChipTest, FullBufferDropsWhatArrivesAndTransfersKeepStreamOrder) {
  at(10);
  chip->submitIn(1, 512, start + milliseconds(10));
  at(30);
  std::vector<UsbChip::Finished> finished = chip->takeFinished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_FALSE(finished[0].stalled);
  ASSERT_EQ(finished[0].data.size(), 512u);
  const std::vector<uint8_t> sent = streamBytesOf(finished[0].data);
  const std::vector<uint8_t> stream = patternBytes(2000);
  ASSERT_EQ(sent.size(), 8u * 62);
  EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + 256, stream.begin()));
  // Bytes 256 on were dropped until the transfer came at 10 ms, by when byte 1000 was due.
  const auto resumed = std::search(stream.begin() + 256, stream.end(), sent.begin() + 256, sent.end());
  EXPECT_NEAR(resumed - stream.begin(), 1000, 20);
  EXPECT_EQ(chip->droppedWhileReading(), 0u);
  EXPECT_EQ(chip->sentBytes(), 8u * 62);
}

// A host that reads but comes back late loses bytes, and they count; a reset makes the bytes
// lost since the last packet count as lost while closed.
TEST_F(ChipTest, DropsWhileReadingCountUntilReset) {
  chip->submitIn(1, 64, start);
  at(5);
  ASSERT_EQ(chip->takeFinished().size(), 1u);
  at(20);  // 15 ms with nothing waiting: 1500 bytes, 256 kept
  chip->submitIn(2, 64, start + milliseconds(20));
  at(21);
  EXPECT_NEAR(static_cast<double>(chip->droppedWhileReading()), 1500 - 256 + 5 * 100 - 62, 30);
  const uint64_t before = chip->droppedWhileReading();
  at(40);
  std::vector<uint8_t> reply;
  ASSERT_TRUE(chip->vendorRequest(0x00, 0, 1, reply));  // reset
  EXPECT_EQ(chip->droppedWhileReading(), before);
}

// An idle chip answers once per latency period with its status alone; a stalled endpoint
// answers every transfer with a stall; a transfer cancelled after its first packet brings it.
TEST_F(ChipTest, IdleStatusStallAndCancelledTransfer) {
  chip.reset();
  UsbChip::Config settings;
  settings.stopAt = milliseconds(0);
  settings.stallAt = milliseconds(100);
  chip = std::make_unique<UsbChip>(source, settings, start, nullptr, nullptr);
  std::vector<uint8_t> reply;
  ASSERT_TRUE(chip->vendorRequest(0x09, 10, 1, reply));  // latency timer 10 ms
  at(20);
  chip->submitIn(1, 512, start + milliseconds(20));
  at(21);
  ASSERT_EQ(chip->takeFinished().size(), 1u);  // the timer ran out long ago
  chip->submitIn(2, 512, start + milliseconds(21));
  at(29);
  EXPECT_TRUE(chip->takeFinished().empty());
  at(32);
  std::vector<UsbChip::Finished> finished = chip->takeFinished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].data, (std::vector<uint8_t>{0x01, 0x60}));
  chip->submitIn(3, 512, start + milliseconds(32));
  EXPECT_TRUE(chip->unlinkIn(3));
  EXPECT_FALSE(chip->unlinkIn(3));
  at(100);
  chip->submitIn(4, 512, start + milliseconds(100));
  at(101);
  finished = chip->takeFinished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_TRUE(finished[0].stalled);
}

// Unplugged, the chip loses what it held and the host's transfers: none of it counts as sent,
// and after the replug the stream goes on from where the device is, with the chip's defaults.
TEST_F(ChipTest, APowerCycleLosesWhatTheChipHeldAndTheHostsTransfers) {
  std::vector<uint8_t> reply;
  ASSERT_TRUE(chip->vendorRequest(0x09, 50, 1, reply));
  chip->submitIn(1, 512, start);
  at(2);  // 200 bytes arrived: three packets taken, the rest in the buffer
  chip->powerCycle();
  at(3);
  EXPECT_TRUE(chip->takeFinished().empty());
  EXPECT_EQ(chip->sentBytes(), 0u);
  ASSERT_TRUE(chip->vendorRequest(0x0a, 0, 1, reply));
  EXPECT_EQ(reply, std::vector<uint8_t>{16});

  chip->submitIn(2, 64, start + milliseconds(3));
  at(4);
  std::vector<UsbChip::Finished> finished = chip->takeFinished();
  ASSERT_EQ(finished.size(), 1u);
  const std::vector<uint8_t> sent = streamBytesOf(finished[0].data);
  const std::vector<uint8_t> stream = patternBytes(400);
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), stream.begin() + 200));
  EXPECT_EQ(chip->sentBytes(), sent.size());
}

}  // namespace
