#include <gtest/gtest.h>
#include <libusb.h>

#include <string>
#include <vector>

#include "ftdi_link.h"
#include "scripted_ftdi.h"
#include "stream_reader.h"

using ScriptedFtdi::packets;
using ScriptedFtdi::script;
using Calls = std::vector<std::string>;

namespace {

Calls findCalls(std::initializer_list<std::string> perDevice) {
  Calls calls{"ftdi_usb_find_all 0 0"};
  calls.insert(calls.end(), perDevice);
  calls.push_back("ftdi_list_free");
  return calls;
}

const Calls kConfigureCalls = {"ftdi_set_bitmode 0 0", "ftdi_set_latency_timer 2"};

Calls joined(Calls first, const Calls& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::vector<uint8_t> counting(int size, int first = 0) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  return bytes;
}

ScriptedFtdi::Completion data(const std::vector<uint8_t>& payload) { return {0, packets(payload)}; }

// The next `count` bytes through the reader are first, first + 1, ...
void expectCounting(StreamReader& reader, int first, int count) {
  uint8_t byte = 0;
  for (int i = first; i < first + count; ++i) {
    ASSERT_EQ(reader.nextByte(byte), 0) << "byte " << i;
    ASSERT_EQ(byte, static_cast<uint8_t>(i));
  }
}

// One KESTRAVU device on an FT232R, open, its stream running.
class FtdiLinkTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kBufferBytes = 4096;

  FtdiLinkTest() { ScriptedFtdi::reset(); }

  void openOneDevice() {
    script.devices = {{0x6001, "KESTRAVU"}};
    ASSERT_EQ(link.open(32), OpenResult::Opened);
    script.calls.clear();
  }

  FtdiLink link{script.clock, ScriptedFtdi::functions(), ScriptedFtdi::usbFunctions(), kBufferBytes};
  uint8_t buffer[256] = {};
  uint32_t received = 0;
};

// ---- open ---------------------------------------------------------------------------------

TEST_F(FtdiLinkTest, OpensTheDeviceNamedKestravuOnAnyDefaultProductIdConfiguresItAndQueuesItsTransfers) {
  script.devices = {{0x6001, "FT232R USB UART"}, {0x6014, "KESTRAVU", 0, 0, 512}, {0x6010, "KESTRAVU"}};
  EXPECT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(script.calls, joined(joined({"ftdi_new"}, findCalls({"ftdi_usb_get_strings2 dev1",
                                                                  "ftdi_usb_get_strings2 dev2",
                                                                  "ftdi_usb_open_dev dev2"})),
                                 kConfigureCalls));
  EXPECT_EQ(script.openDevice, 1);
  EXPECT_TRUE(link.isOpen());
  // Whole packets of the high-speed endpoint, whatever the read size.
  EXPECT_EQ(script.submits, Calls(BulkInStream::kTransfers, "0x81 4096"));
}

TEST_F(FtdiLinkTest, PassesOverDevicesThatCannotBeReadOrOpenedAndFailsWhenNoneIsLeft) {
  script.devices = {{0x6001, "KESTRAVU", -4}, {0x6010, "KESTRAVU", 0, -8}, {0x6014, "KESTRAVU"}};
  EXPECT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(script.openDevice, 2);
  EXPECT_EQ(link.lastError(), 0);

  link.close();
  script.devices[2].openError = -8;
  script.calls.clear();
  EXPECT_EQ(link.open(32), OpenResult::DeviceNotFound);
  EXPECT_EQ(script.calls, findCalls({"ftdi_usb_get_strings2 dev1", "ftdi_usb_get_strings2 dev2",
                                     "ftdi_usb_open_dev dev2", "ftdi_usb_get_strings2 dev3",
                                     "ftdi_usb_open_dev dev3"}));
  EXPECT_EQ(link.lastError(), -8);
  EXPECT_FALSE(link.isOpen());
  EXPECT_EQ(link.read(buffer, 32, received), ReadResult::NotOpen);

  script.devices = {{0x6001, "FT232R USB UART"}};
  EXPECT_EQ(link.open(32), OpenResult::DeviceNotFound);
  script.findAllError = -3;
  EXPECT_EQ(link.open(32), OpenResult::DeviceNotFound);
  EXPECT_EQ(link.lastError(), -3);
}

// The list reads the strings through a context of its own, so an open device does not stand in
// for the listed ones.
TEST_F(FtdiLinkTest, ListsTheKestravuDevicesBySerialNumberAndOpensTheChosenOne) {
  script.devices = {{0x6001, "FT232R USB UART", 0, 0, 64, "A100"},
                    {0x6001, "KESTRAVU", 0, 0, 64, "KV1"},
                    {0x6010, "KESTRAVU", -4, 0, 64, "KV3"},
                    {0x6014, "KESTRAVU", 0, 0, 512, "KV2"}};
  link.chooseSerial("KV2");
  ASSERT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(script.openDevice, 3);
  script.calls.clear();
  EXPECT_EQ(link.attachedSerials(), (std::vector<std::string>{"KV1", "KV2"}));
  EXPECT_EQ(script.calls.front(), "ftdi_new");
  EXPECT_EQ(script.calls.back(), "ftdi_free");
  EXPECT_EQ(script.openDevice, 3);

  link.chooseSerial("KV3");
  EXPECT_EQ(link.open(32), OpenResult::DeviceNotFound);
  link.chooseSerial("");
  ASSERT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(script.openDevice, 1);
}

TEST_F(FtdiLinkTest, AConfigurationFailureHasItsOwnResultAndTheDeviceStaysOpenUntilClosed) {
  struct Step {
    int ScriptedFtdi::Script::*error;
    OpenResult result;
    int cancels;  // of the transfers queued before the one that failed
  };
  const Step steps[] = {{&ScriptedFtdi::Script::bitModeError, OpenResult::ResetModeFailed, 0},
                        {&ScriptedFtdi::Script::latencyError, OpenResult::LatencyTimerFailed, 0},
                        {&ScriptedFtdi::Script::submitError, OpenResult::StreamFailed, 2}};
  for (size_t failing = 0; failing < 3; ++failing) {
    SCOPED_TRACE("failing step " + std::to_string(failing));
    ScriptedFtdi::reset();
    script.devices = {{0x6001, "KESTRAVU"}};
    script.*steps[failing].error = -1;
    {
      FtdiLink failingLink(script.clock, ScriptedFtdi::functions(), ScriptedFtdi::usbFunctions());
      EXPECT_EQ(failingLink.open(32), steps[failing].result);
      EXPECT_EQ(failingLink.lastError(), -1);
      EXPECT_EQ(script.calls.back(), kConfigureCalls[std::min<size_t>(failing, 1)]);
      EXPECT_EQ(script.openDevice, 0);
      EXPECT_EQ(script.cancels, steps[failing].cancels);
      EXPECT_EQ(script.allocated, 0);
      EXPECT_EQ(failingLink.read(buffer, 32, received), ReadResult::NotOpen);
    }
    EXPECT_EQ(script.openDevice, -1);
    EXPECT_EQ(Calls(script.calls.end() - 2, script.calls.end()), (Calls{"ftdi_usb_close", "ftdi_free"}));
  }
}

// The read size does not concern the transfers: a reopen loses nothing while the stream flows.
// After a failure the device is closed, once every transfer is back, and opened again.
TEST_F(FtdiLinkTest, AReopenLeavesAFlowingStreamAloneAndOpensAfreshAfterAFailureServingWhatCameFirst) {
  script.completions = {data(counting(20))};
  openOneDevice();
  ScriptedFtdi::settle();
  link.reopen(100);
  ScriptedFtdi::complete({data(counting(5, 20))});
  ASSERT_EQ(link.read(buffer, 25, received), ReadResult::BytesArrived);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + received), counting(25));
  EXPECT_EQ(script.calls, Calls{});
  EXPECT_EQ(script.cancels, 0);

  // A cancelled transfer may bring bytes back: they are kept too. Each transfer is cancelled
  // once, whether it came back before the stop or during it.
  script.cancelledBytes = packets(counting(3, 30));
  ScriptedFtdi::complete({data(counting(5, 25)), {LIBUSB_TRANSFER_STALL, {}}});
  ScriptedFtdi::settle();
  script.devices[0].openError = -4;  // unplugged in between
  link.reopen(32);
  EXPECT_EQ(script.calls, joined({"ftdi_usb_close"}, findCalls({"ftdi_usb_get_strings2 dev1",
                                                               "ftdi_usb_open_dev dev1"})));
  EXPECT_EQ(script.cancels, BulkInStream::kTransfers - 1);
  EXPECT_EQ(script.transfersAtClose, 0);
  StreamReader reader(link);
  expectCounting(reader, 25, 8);
  uint8_t byte = 0;
  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::NotOpen);
}

// ---- read ---------------------------------------------------------------------------------

TEST_F(FtdiLinkTest, TheStreamStripsTheStatusBytesOfEveryPacketAndQueuesEachTransferAgain) {
  const std::vector<uint8_t> stream = counting(196 + 496);
  const std::vector<uint8_t> firstPart(stream.begin(), stream.begin() + 196), rest(stream.begin() + 196, stream.end());
  ASSERT_EQ(packets(firstPart).size(), 3 * 64 + 12u);  // three whole packets and a short one
  ASSERT_EQ(packets(rest).size(), 512u);
  script.completions = {{0, packets(firstPart)}, {0, {0x01, 0x60}}, {0, packets(rest)}};
  openOneDevice();
  std::vector<uint8_t> got;
  while (got.size() < stream.size()) {
    const uint32_t wanted = std::min<uint32_t>(200, static_cast<uint32_t>(stream.size() - got.size()));
    ASSERT_EQ(link.read(buffer, wanted, received), ReadResult::BytesArrived);
    ASSERT_EQ(received, wanted);
    got.insert(got.end(), buffer, buffer + received);
  }
  EXPECT_EQ(got, stream);
  ScriptedFtdi::settle();
  EXPECT_EQ(script.submits, Calls(BulkInStream::kTransfers + 3, "0x81 512"));
  EXPECT_EQ(link.stream().droppedBytes(), 0u);
}

// The clock starts just short of wrapping around, as the system tick count does.
TEST_F(FtdiLinkTest, ReadEndsAtTheDeadlineWithWhatCameAndTheReaderServesItThenFails) {
  script.clock = ManualClock(0xFFFFFFFFu - 1000);
  const uint32_t start = script.clock.milliseconds();
  script.completions = {data(counting(10))};
  openOneDevice();
  StreamReader reader(link);
  expectCounting(reader, 0, 10);
  uint8_t byte = 0;
  EXPECT_GE(script.clock.milliseconds() - start, DeviceLink::kReadTimeoutMs);

  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::TimedOut);
  EXPECT_GE(script.clock.milliseconds() - start, 2 * DeviceLink::kReadTimeoutMs);
}

// Like the chip, the buffer drops the newest bytes, so what it holds stays unbroken up to the gap.
TEST_F(FtdiLinkTest, BytesThatFindTheBufferFullAreDroppedCountedAndReportedOncePerEpisode) {
  script.devices = {{0x6001, "KESTRAVU"}};
  script.completions = {data(counting(62)), data(counting(62, 62)), data(counting(62, 124))};
  FtdiLink small(script.clock, ScriptedFtdi::functions(), ScriptedFtdi::usbFunctions(), 100);
  testing::internal::CaptureStderr();
  ASSERT_EQ(small.open(32), OpenResult::Opened);
  ScriptedFtdi::settle();
  EXPECT_EQ(small.stream().droppedBytes(), 86u);
  ASSERT_EQ(small.read(buffer, 100, received), ReadResult::BytesArrived);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + received), counting(100));

  ScriptedFtdi::complete({data(counting(62, 200)), data(counting(10, 262))});  // fit: the episode ends
  ScriptedFtdi::settle();
  ASSERT_EQ(small.read(buffer, 72, received), ReadResult::BytesArrived);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + received), counting(72, 200));

  ScriptedFtdi::complete({data(counting(62)), data(counting(62))});  // still going on at close
  ScriptedFtdi::settle();
  small.close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "kestravu: the device's stream came faster than it was read; 86 bytes were dropped\n"
            "kestravu: the device's stream came faster than it was read; 24 bytes were dropped\n");
  EXPECT_EQ(small.stream().droppedBytes(), 110u);

  // No buffer at all is taken as the default size.
  FtdiLink unsized(script.clock, ScriptedFtdi::functions(), ScriptedFtdi::usbFunctions(), 0);
  script.completions = {data(counting(62))};
  ASSERT_EQ(unsized.open(32), OpenResult::Opened);
  ASSERT_EQ(unsized.read(buffer, 62, received), ReadResult::BytesArrived);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + received), counting(62));
}

TEST_F(FtdiLinkTest, UnpluggingFailsTheReadAfterTheBytesThatCameBeforeAndCancelsTheOtherTransfers) {
  script.completions = {data(counting(40)), {LIBUSB_TRANSFER_NO_DEVICE, {}}};
  openOneDevice();
  StreamReader reader(link);
  expectCounting(reader, 0, 40);
  uint8_t byte = 0;
  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::ReadFailed);
  EXPECT_EQ(link.lastError(), LIBUSB_ERROR_NO_DEVICE);
  ScriptedFtdi::settle();
  EXPECT_EQ(script.cancels, BulkInStream::kTransfers - 1);
  link.close();
  EXPECT_EQ(script.transfersAtClose, 0);
}

// Transfers that never come back, and an event loop that keeps failing, cannot hold a stop: the
// transfers still out are left to libusb, which frees them if they ever complete. A failing
// loop fails the stream at once and pauses between its attempts rather than spinning.
TEST_F(FtdiLinkTest, AStopIsBoundedWhenTransfersNeverComeBackOrTheEventLoopKeepsFailing) {
  script.cancelsComeBack = false;
  openOneDevice();
  link.close();
  EXPECT_EQ(script.cancels, BulkInStream::kTransfers);
  EXPECT_EQ(script.allocated, BulkInStream::kTransfers);
  ScriptedFtdi::returnQueued();
  EXPECT_EQ(script.allocated, 0);

  script.cancelsComeBack = true;
  script.eventsError = LIBUSB_ERROR_NO_MEM;
  script.eventWaits = 0;
  ASSERT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(link.read(buffer, 32, received), ReadResult::ReadFailed);
  EXPECT_EQ(link.lastError(), LIBUSB_ERROR_NO_MEM);
  link.close();
  EXPECT_LE(script.eventWaits, 1 + static_cast<int>(BulkInStream::kEventFailureLimitMs / 10));
  EXPECT_EQ(script.allocated, BulkInStream::kTransfers);
  ScriptedFtdi::returnQueued();
  EXPECT_EQ(script.allocated, 0);
}

}  // namespace
