#include <climits>

#include "link_fixture.h"

using DeviceLink::OpenResult;
using StreamReader::RefillResult;

// ---- open, close, reopen ------------------------------------------------------------------

TEST_F(LinkTest, OpenMakesTheFourCallsInOrderWithTheirArguments) {
  EXPECT_EQ(DeviceLink::open(), 0);
  EXPECT_EQ(FakeD2xx::driver.calls, kOpenCalls);
  EXPECT_EQ(DeviceLink::linkState.handle, FakeD2xx::handleNumber(1));
  EXPECT_EQ(DeviceLink::linkState.lastOpen, OpenResult::Opened);
}

TEST_F(LinkTest, OpenStopsAtTheFirstFailingCallAndSaysWhichOne) {
  struct Step {
    FT_STATUS FakeD2xx::Driver::*status;
    OpenResult result;
  };
  const Step steps[] = {{&FakeD2xx::Driver::openStatus, OpenResult::DeviceNotFound},
                        {&FakeD2xx::Driver::bitModeStatus, OpenResult::ResetModeFailed},
                        {&FakeD2xx::Driver::usbParametersStatus, OpenResult::TransferSizeFailed},
                        {&FakeD2xx::Driver::timeoutsStatus, OpenResult::TimeoutsFailed}};
  for (size_t failing = 0; failing < 4; ++failing) {
    SCOPED_TRACE("failing call " + kOpenCalls[failing]);
    SetUp();
    FakeD2xx::driver.*steps[failing].status = 4;
    EXPECT_EQ(DeviceLink::open(), 1);
    std::vector<std::string> expected(kOpenCalls.begin(), kOpenCalls.begin() + failing + 1);
    EXPECT_EQ(FakeD2xx::driver.calls, expected);
    EXPECT_EQ(DeviceLink::linkState.lastOpen, steps[failing].result);
    EXPECT_EQ(DeviceLink::linkState.lastOpenStatus, 4u);
    // After FT_OpenEx succeeded the device stays open, so that close releases it.
    EXPECT_EQ(DeviceLink::linkState.handle, failing == 0 ? nullptr : FakeD2xx::handleNumber(1));
  }
}

TEST_F(LinkTest, TransferSizeIsTheReadSizeAndOutOfRangeSizesBecomeTheDefault) {
  const int32_t sizes[][2] = {{1, 1}, {100, 100}, {256, 256}, {257, 32}, {0, 32}, {-1, 32}, {INT_MAX, 32}, {INT_MIN, 32}};
  for (auto [bufsize, sent] : sizes) {
    SCOPED_TRACE("bufsize " + std::to_string(bufsize));
    SetUp();
    settings.bufsize = bufsize;
    ASSERT_EQ(DeviceLink::open(), 0);
    EXPECT_EQ(FakeD2xx::driver.calls[2], "FT_SetUSBParameters h1 " + std::to_string(sent) + " 0");
  }
}

TEST_F(LinkTest, CloseReleasesTheHandleOnceWhateverItsStatus) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.closeStatus = 4;
  DeviceLink::close();
  DeviceLink::close();
  EXPECT_EQ(FakeD2xx::countCalls("FT_Close"), 1);
  EXPECT_EQ(FakeD2xx::driver.calls.back(), "FT_Close h1");
  EXPECT_EQ(DeviceLink::linkState.handle, nullptr);
}

TEST_F(LinkTest, ReopenClosesOpensAndSetsTheNewTransferSizeOnceMore) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.calls.clear();
  settings.bufsize = 64;
  DeviceLink::reopen();
  const std::vector<std::string> expected = {"FT_Close h1",          "FT_OpenEx KESTRAVU 2",
                                             "FT_SetBitMode h2 0 0", "FT_SetUSBParameters h2 64 0",
                                             "FT_SetTimeouts h2 3000 3000", "FT_SetUSBParameters h2 64 0"};
  EXPECT_EQ(FakeD2xx::driver.calls, expected);
}

TEST_F(LinkTest, ReopenIgnoresAFailureAfterTheOpenButNeverUsesAClosedHandle) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.calls.clear();
  FakeD2xx::driver.bitModeStatus = 4;
  DeviceLink::reopen();  // the device is open again, just not configured: the extra call is made
  EXPECT_EQ(FakeD2xx::driver.calls,
            (std::vector<std::string>{"FT_Close h1", "FT_OpenEx KESTRAVU 2", "FT_SetBitMode h2 0 0",
                                      "FT_SetUSBParameters h2 32 0"}));

  FakeD2xx::driver.calls.clear();
  FakeD2xx::driver.openStatus = FT_DEVICE_NOT_FOUND;  // unplugged meanwhile
  DeviceLink::reopen();
  EXPECT_EQ(FakeD2xx::driver.calls, (std::vector<std::string>{"FT_Close h2", "FT_OpenEx KESTRAVU 2"}));
  EXPECT_EQ(DeviceLink::linkState.lastOpen, OpenResult::DeviceNotFound);

  // The failure shows at the next read, without a call on the closed handle.
  uint8_t byte = 0;
  EXPECT_EQ(StreamReader::nextByte(byte), 1);
  EXPECT_EQ(StreamReader::readerState.lastRefill, RefillResult::NotOpen);
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 0);
  DeviceLink::close();
  EXPECT_EQ(FakeD2xx::countCalls("FT_Close"), 1);
}

TEST_F(LinkTest, ReopenServesTheBytesLeftInTheBufferBeforeReadingAtTheNewSize) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.reads = {countingRead(32, 0), countingRead(64, 100)};
  ASSERT_EQ(take(27), counting(27));
  settings.bufsize = 64;
  DeviceLink::reopen();
  FakeD2xx::driver.calls.clear();
  EXPECT_EQ(take(5), counting(5, 27));
  EXPECT_TRUE(FakeD2xx::driver.calls.empty()) << "leftovers must come without a read";
  EXPECT_EQ(take(64), counting(64, 100));
  EXPECT_EQ(FakeD2xx::driver.calls, std::vector<std::string>{"FT_Read h2 64"});
}

// ---- reading ------------------------------------------------------------------------------

TEST_F(LinkTest, ShortReadsAreServedWholeBeforeTheNextRead) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.reads = {countingRead(10, 0), countingRead(1, 10), countingRead(32, 11)};
  EXPECT_EQ(take(10), counting(10));
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 1);
  EXPECT_EQ(take(1), counting(1, 10));
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 2);
  EXPECT_EQ(take(32), counting(32, 11));
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 3);
  EXPECT_EQ(StreamReader::readerState.readPosition, 0u);
}

TEST_F(LinkTest, TenBytesThenSilenceFailsAtTheNextRead) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.stream = counting(10);
  EXPECT_EQ(take(11), counting(10));
  EXPECT_EQ(StreamReader::readerState.lastRefill, RefillResult::TimedOut);
  EXPECT_EQ(FakeD2xx::driver.calls.back(), "FT_Read h1 32");
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 2);
}

TEST_F(LinkTest, EveryKindOfFailedReadServesNoByteAndSaysWhy) {
  struct Case {
    const char* name;
    FakeD2xx::ScriptedRead read;
    RefillResult result;
  };
  const Case cases[] = {
      {"error status", {FT_IO_ERROR, {}, -1}, RefillResult::ReadFailed},
      {"error status with bytes", {FT_IO_ERROR, counting(10), -1}, RefillResult::ReadFailed},
      {"nothing within the time-out", {FT_OK, {}, -1}, RefillResult::TimedOut},
      {"more bytes than asked for", {FT_OK, counting(32), 33}, RefillResult::Overlong},
      {"more than the buffer holds", {FT_OK, counting(32), 5000}, RefillResult::Overlong},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.name);
    SetUp();
    ASSERT_EQ(DeviceLink::open(), 0);
    FakeD2xx::driver.reads = {failure.read, countingRead(3, 50)};
    uint8_t byte = 0xEE;
    EXPECT_EQ(StreamReader::nextByte(byte), 1);
    EXPECT_EQ(byte, 0xEE);
    EXPECT_EQ(StreamReader::readerState.lastRefill, failure.result);
    EXPECT_EQ(StreamReader::readerState.lastReadStatus, failure.read.status);
    EXPECT_EQ(StreamReader::readerState.fillCount, 0u);
    // Nothing of the failed read is served later: the next request reads afresh.
    EXPECT_EQ(take(3), counting(3, 50));
  }
}

TEST_F(LinkTest, ReadingBeforeAnyOpenFailsWithoutACall) {
  uint8_t byte = 0;
  EXPECT_EQ(StreamReader::nextByte(byte), 1);
  EXPECT_EQ(StreamReader::readerState.lastRefill, RefillResult::NotOpen);
  EXPECT_TRUE(FakeD2xx::driver.calls.empty());
}

TEST_F(LinkTest, ReadSizeOneMakesOneReadPerByte) {
  settings.bufsize = 1;
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.stream = counting(100);
  EXPECT_EQ(take(100), counting(100));
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read h1 1"), 100);
  EXPECT_EQ(FakeD2xx::countCalls("FT_Read"), 100);
}

TEST_F(LinkTest, ReadSizeIsCheckedAtEveryReadAndNeverExceedsTheBuffer) {
  ASSERT_EQ(DeviceLink::open(), 0);
  FakeD2xx::driver.stream = counting(256 * 3);
  const int32_t sizes[][2] = {{256, 256}, {257, 32}, {100000, 32}, {-5, 32}, {7, 7}};
  for (auto [bufsize, asked] : sizes) {
    SCOPED_TRACE("bufsize " + std::to_string(bufsize));
    settings.bufsize = bufsize;  // changed behind the link's back, as a bad settings file would
    take(1);
    EXPECT_EQ(FakeD2xx::driver.calls.back(), "FT_Read h1 " + std::to_string(asked));
    take(asked - 1);  // use the buffer up
  }
  EXPECT_EQ(FakeD2xx::driver.largestReadCount, 256u);
}
