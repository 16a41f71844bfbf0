#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftdi_link.h"
#include "scripted_ftdi.h"
#include "stream_reader.h"

using ScriptedFtdi::script;
using Calls = std::vector<std::string>;

namespace {

Calls findCalls(std::initializer_list<std::string> perDevice) {
  Calls calls{"ftdi_usb_find_all 0 0"};
  calls.insert(calls.end(), perDevice);
  calls.push_back("ftdi_list_free");
  return calls;
}

Calls configureCalls(unsigned int chunkBytes) {
  return {"ftdi_set_bitmode 0 0", "ftdi_read_data_set_chunksize " + std::to_string(chunkBytes),
          "ftdi_set_latency_timer 2"};
}

Calls joined(Calls first, const Calls& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::vector<uint8_t> counting(int size, int first = 0) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  return bytes;
}

ScriptedFtdi::Poll data(std::vector<uint8_t> bytes) { return {0, std::move(bytes)}; }
const ScriptedFtdi::Poll kIdle{};

// One KESTRAVU device on an FT232R, open and idle.
class FtdiLinkTest : public ::testing::Test {
 protected:
  FtdiLinkTest() { ScriptedFtdi::reset(); }

  void openOneDevice(uint32_t readSize = 32) {
    script.devices = {{0x6001, "KESTRAVU"}};
    ASSERT_EQ(link.open(readSize), OpenResult::Opened);
    script.calls.clear();
  }

  FtdiLink link{script.clock, ScriptedFtdi::functions()};
  uint8_t buffer[256] = {};
  uint32_t received = 0;
};

// ---- open ---------------------------------------------------------------------------------

TEST_F(FtdiLinkTest, OpensTheDeviceNamedKestravuOnAnyDefaultProductIdAndConfiguresIt) {
  script.devices = {{0x6001, "FT232R USB UART"}, {0x6014, "KESTRAVU", 0, 0, 512}, {0x6010, "KESTRAVU"}};
  EXPECT_EQ(link.open(32), OpenResult::Opened);
  EXPECT_EQ(script.calls, joined(joined({"ftdi_new"}, findCalls({"ftdi_usb_get_strings2 dev1",
                                                                  "ftdi_usb_get_strings2 dev2",
                                                                  "ftdi_usb_open_dev dev2"})),
                                 configureCalls(512)));
  EXPECT_EQ(script.openDevice, 1);
  EXPECT_TRUE(link.isOpen());
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

TEST_F(FtdiLinkTest, AConfigurationFailureHasItsOwnResultAndTheDeviceStaysOpenUntilClosed) {
  struct Step {
    int ScriptedFtdi::Script::*error;
    OpenResult result;
  };
  const Step steps[] = {{&ScriptedFtdi::Script::bitModeError, OpenResult::ResetModeFailed},
                        {&ScriptedFtdi::Script::chunkSizeError, OpenResult::TransferSizeFailed},
                        {&ScriptedFtdi::Script::latencyError, OpenResult::TimeoutsFailed}};
  for (size_t failing = 0; failing < 3; ++failing) {
    SCOPED_TRACE("failing step " + std::to_string(failing));
    ScriptedFtdi::reset();
    script.devices = {{0x6001, "KESTRAVU"}};
    script.*steps[failing].error = -1;
    {
      FtdiLink failingLink(script.clock, ScriptedFtdi::functions());
      EXPECT_EQ(failingLink.open(32), steps[failing].result);
      EXPECT_EQ(failingLink.lastError(), -1);
      EXPECT_EQ(script.calls.back(), configureCalls(64)[failing]);
      EXPECT_EQ(script.openDevice, 0);
    }
    EXPECT_EQ(script.openDevice, -1);
    EXPECT_EQ(Calls(script.calls.end() - 2, script.calls.end()), (Calls{"ftdi_usb_close", "ftdi_free"}));
  }
}

TEST_F(FtdiLinkTest, ReadChunkIsTheReadSizeInWholePacketsOfTheEndpoint) {
  const unsigned int cases[][3] = {{32, 64, 64}, {256, 512, 512}, {1, 64, 64}, {100, 64, 128}, {256, 64, 256}};
  for (auto [readSize, packetBytes, chunkBytes] : cases) {
    SCOPED_TRACE("read size " + std::to_string(readSize) + ", packets of " + std::to_string(packetBytes));
    script.devices = {{0x6014, "KESTRAVU", 0, 0, packetBytes}};
    script.calls.clear();
    ASSERT_EQ(link.open(readSize), OpenResult::Opened);
    EXPECT_EQ(script.calls.end()[-2], "ftdi_read_data_set_chunksize " + std::to_string(chunkBytes));
    link.close();
  }
}

TEST_F(FtdiLinkTest, ReopenClosesAndOpensWithTheNewSizeAndAFailedReopenShowsAtTheNextRead) {
  openOneDevice(32);
  link.reopen(100);
  EXPECT_EQ(script.calls, joined(joined({"ftdi_usb_close"}, findCalls({"ftdi_usb_get_strings2 dev1",
                                                                         "ftdi_usb_open_dev dev1"})),
                                 configureCalls(128)));

  script.devices[0].openError = -4;  // unplugged in between
  link.reopen(32);
  StreamReader reader(link);
  uint8_t byte = 0;
  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::NotOpen);
}

// ---- read ---------------------------------------------------------------------------------

TEST_F(FtdiLinkTest, ReadPollsThroughIdleAnswersAndAsksOnlyForWhatIsMissing) {
  openOneDevice();
  script.polls = {kIdle, kIdle, kIdle, data(counting(10)), kIdle, data(counting(40, 10))};
  EXPECT_EQ(link.read(buffer, 32, received), ReadResult::BytesArrived);
  EXPECT_EQ(received, 32u);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 32), counting(32));
  EXPECT_EQ(script.readSizes, (std::vector<int>{32, 32, 32, 32, 22, 22}));
  EXPECT_EQ(script.clock.now, 6 * script.pollMs);
}

// The clock starts just short of wrapping around, as the system tick count does.
TEST_F(FtdiLinkTest, ReadEndsAtTheDeadlineWithWhatCameAndTheReaderServesItThenFails) {
  openOneDevice();
  script.clock.now = 0xFFFFFFFFu - 1000;
  const uint32_t start = script.clock.now;
  script.polls = {data(counting(10))};
  StreamReader reader(link);
  uint8_t byte = 0;
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(reader.nextByte(byte), 0);
    EXPECT_EQ(byte, i);
  }
  EXPECT_EQ(script.clock.now - start, DeviceLink::kReadTimeoutMs);
  EXPECT_EQ(script.readSizes.size(), DeviceLink::kReadTimeoutMs / script.pollMs);
  EXPECT_EQ(script.readSizes[1], 22);

  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::TimedOut);
  EXPECT_EQ(script.clock.now - start, 2 * DeviceLink::kReadTimeoutMs);
}

TEST_F(FtdiLinkTest, UnpluggingFailsTheReadAndTheReaderAndSoDoesAnOverlongCount) {
  openOneDevice();
  script.polls = {data(counting(32)), data(counting(5)), {-4, {}}};
  StreamReader reader(link);
  uint8_t byte = 0;
  for (int i = 0; i < 32; ++i) ASSERT_EQ(reader.nextByte(byte), 0);
  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::ReadFailed);
  EXPECT_EQ(link.lastError(), -4);

  script.polls = {data(counting(5)), {40, {}}};
  EXPECT_EQ(link.read(buffer, 32, received), ReadResult::Overlong);
  EXPECT_EQ(received, 0u);
}

}  // namespace
