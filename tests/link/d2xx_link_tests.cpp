#include <climits>
#include <type_traits>

#include "link_fixture.h"

// ---- open, close, reopen ------------------------------------------------------------------

TEST_F(LinkTest, OpenMakesTheFourCallsInOrderWithTheirArguments) {
  EXPECT_EQ(open(), OpenResult::Opened);
  EXPECT_EQ(driver().calls, kOpenCalls);
  EXPECT_EQ(driver().openHandle(), ScriptedD2xx::handle(1));
  EXPECT_TRUE(link().isOpen());
  EXPECT_EQ(link().lastStatus(), FT_OK);
}

TEST_F(LinkTest, OpenStopsAtTheFirstFailingCallAndSaysWhichOne) {
  struct Step {
    FT_STATUS ScriptedD2xx::*status;
    OpenResult result;
  };
  const Step steps[] = {{&ScriptedD2xx::openStatus, OpenResult::DeviceNotFound},
                        {&ScriptedD2xx::bitModeStatus, OpenResult::ResetModeFailed},
                        {&ScriptedD2xx::usbParametersStatus, OpenResult::TransferSizeFailed},
                        {&ScriptedD2xx::timeoutsStatus, OpenResult::TimeoutsFailed}};
  for (size_t failing = 0; failing < 4; ++failing) {
    SCOPED_TRACE("failing call " + kOpenCalls[failing]);
    SetUp();
    driver().*steps[failing].status = 4;
    EXPECT_EQ(open(), steps[failing].result);
    std::vector<std::string> expected(kOpenCalls.begin(), kOpenCalls.begin() + failing + 1);
    EXPECT_EQ(driver().calls, expected);
    EXPECT_EQ(link().lastStatus(), 4u);
    // After FT_OpenEx succeeded the device stays open, so that close releases it.
    EXPECT_EQ(link().isOpen(), failing > 0);
    link().close();
    EXPECT_EQ(driver().countCalls("FT_Close h1"), failing > 0 ? 1 : 0);
  }
}

TEST_F(LinkTest, TransferSizeIsTheReadSizeAndOutOfRangeSizesBecomeTheDefault) {
  const int32_t sizes[][2] = {{1, 1}, {100, 100}, {256, 256}, {257, 32}, {0, 32}, {-1, 32}, {INT_MAX, 32}, {INT_MIN, 32}};
  for (auto [bufsize, sent] : sizes) {
    SCOPED_TRACE("bufsize " + std::to_string(bufsize));
    SetUp();
    ASSERT_EQ(open(bufsize), OpenResult::Opened);
    EXPECT_EQ(driver().calls[2], "FT_SetUSBParameters h1 " + std::to_string(sent) + " 0");
  }
}

// Its destructor closes the handle: a copy would close it a second time.
static_assert(!std::is_copy_constructible_v<D2xxLink> && !std::is_copy_assignable_v<D2xxLink>);

TEST_F(LinkTest, CloseReleasesTheHandleOnceWhateverItsStatus) {
  ASSERT_EQ(open(), OpenResult::Opened);
  ASSERT_EQ(open(), OpenResult::Opened) << "an open of an open link closes the old handle first";
  EXPECT_EQ(driver().calls[kOpenCalls.size()], "FT_Close h1");
  EXPECT_EQ(driver().openHandle(), ScriptedD2xx::handle(2));
  driver().calls.clear();
  driver().closeStatus = 4;
  link().close();
  link().close();
  EXPECT_EQ(driver().countCalls("FT_Close"), 1);
  EXPECT_EQ(driver().calls.back(), "FT_Close h2");
  EXPECT_FALSE(link().isOpen());
}

TEST_F(LinkTest, ReopenClosesOpensAndSetsTheNewTransferSizeOnceMore) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().calls.clear();
  changeReadSize(64);
  const std::vector<std::string> expected = {"FT_Close h1",          "FT_OpenEx KESTRAVU 2",
                                             "FT_SetBitMode h2 0 0", "FT_SetUSBParameters h2 64 0",
                                             "FT_SetTimeouts h2 3000 3000", "FT_SetUSBParameters h2 64 0"};
  EXPECT_EQ(driver().calls, expected);
}

TEST_F(LinkTest, ReopenIgnoresAFailureAfterTheOpenButNeverUsesAClosedHandle) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().calls.clear();
  driver().bitModeStatus = 4;
  changeReadSize(32);  // the device is open again, just not configured: the extra call is made
  EXPECT_EQ(driver().calls,
            (std::vector<std::string>{"FT_Close h1", "FT_OpenEx KESTRAVU 2", "FT_SetBitMode h2 0 0",
                                      "FT_SetUSBParameters h2 32 0"}));

  driver().calls.clear();
  driver().openStatus = FT_DEVICE_NOT_FOUND;  // unplugged meanwhile
  changeReadSize(32);
  EXPECT_EQ(driver().calls, (std::vector<std::string>{"FT_Close h2", "FT_OpenEx KESTRAVU 2"}));
  EXPECT_EQ(link().lastStatus(), FT_DEVICE_NOT_FOUND);

  // The failure shows at the next read, without a call on the closed handle.
  uint8_t byte = 0;
  EXPECT_EQ(reader().nextByte(byte), 1);
  EXPECT_EQ(reader().lastRefill(), ReadResult::NotOpen);
  EXPECT_EQ(driver().countCalls("FT_Read"), 0);
  link().close();
  EXPECT_EQ(driver().countCalls("FT_Close"), 1);
}

TEST_F(LinkTest, ReopenServesTheBytesLeftInTheBufferBeforeReadingAtTheNewSize) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().reads = {countingRead(32, 0), countingRead(64, 100)};
  ASSERT_EQ(take(27), counting(27));
  changeReadSize(64);
  driver().calls.clear();
  EXPECT_EQ(take(5), counting(5, 27));
  EXPECT_TRUE(driver().calls.empty()) << "leftovers must come without a read";
  EXPECT_EQ(take(64), counting(64, 100));
  EXPECT_EQ(driver().calls, std::vector<std::string>{"FT_Read h2 64"});
}

// ---- reading ------------------------------------------------------------------------------

TEST_F(LinkTest, ShortReadsAreServedWholeBeforeTheNextRead) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().reads = {countingRead(10, 0), countingRead(1, 10), countingRead(32, 11)};
  EXPECT_EQ(take(10), counting(10));
  EXPECT_EQ(driver().countCalls("FT_Read"), 1);
  EXPECT_EQ(take(1), counting(1, 10));
  EXPECT_EQ(driver().countCalls("FT_Read"), 2);
  EXPECT_EQ(take(32), counting(32, 11));
  EXPECT_EQ(driver().countCalls("FT_Read"), 3);
  const uint8_t* unread = nullptr;
  EXPECT_EQ(reader().unread(unread), 0u) << "the buffer is used up";
}

TEST_F(LinkTest, TenBytesThenSilenceFailsAtTheNextRead) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().stream = counting(10);
  EXPECT_EQ(take(11), counting(10));
  EXPECT_EQ(reader().lastRefill(), ReadResult::TimedOut);
  EXPECT_EQ(driver().calls.back(), "FT_Read h1 32");
  EXPECT_EQ(driver().countCalls("FT_Read"), 2);
}

TEST_F(LinkTest, EveryKindOfFailedReadServesNoByteAndSaysWhy) {
  struct Case {
    const char* name;
    ScriptedD2xx::Read read;
    ReadResult result;
  };
  const Case cases[] = {
      {"error status", {FT_IO_ERROR, {}, -1}, ReadResult::ReadFailed},
      {"error status with bytes", {FT_IO_ERROR, counting(10), -1}, ReadResult::ReadFailed},
      {"nothing within the time-out", {FT_OK, {}, -1}, ReadResult::TimedOut},
      {"more bytes than asked for", {FT_OK, counting(32), 33}, ReadResult::Overlong},
      {"more than the buffer holds", {FT_OK, counting(32), 5000}, ReadResult::Overlong},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.name);
    SetUp();
    ASSERT_EQ(open(), OpenResult::Opened);
    driver().reads = {failure.read, countingRead(3, 50)};
    uint8_t byte = 0x77;
    EXPECT_EQ(reader().nextByte(byte), 1);
    EXPECT_EQ(byte, 0x77);
    EXPECT_EQ(reader().lastRefill(), failure.result);
    EXPECT_EQ(link().lastStatus(), failure.read.status);
    const uint8_t* unread = nullptr;
    EXPECT_EQ(reader().unread(unread), 0u);
    // Nothing of the failed read is served later: the next request reads afresh.
    EXPECT_EQ(take(3), counting(3, 50));
  }
}

TEST_F(LinkTest, ReadingBeforeAnyOpenFailsWithoutACall) {
  uint8_t byte = 0;
  EXPECT_EQ(reader().nextByte(byte), 1);
  EXPECT_EQ(reader().lastRefill(), ReadResult::NotOpen);
  EXPECT_TRUE(driver().calls.empty());

  // Nor does a link over a library that did not load ever open.
  D2xxLink unloaded{D2xxFunctions{}};
  StreamReader reader{unloaded};
  EXPECT_EQ(unloaded.open(kDefaultReadSize), OpenResult::LibraryMissing);
  unloaded.reopen(kDefaultReadSize);
  EXPECT_EQ(reader.nextByte(byte), 1);
  EXPECT_EQ(reader.lastRefill(), ReadResult::NotOpen);
}

TEST_F(LinkTest, ReadSizeOneMakesOneReadPerByte) {
  ASSERT_EQ(open(1), OpenResult::Opened);
  driver().stream = counting(100);
  EXPECT_EQ(take(100), counting(100));
  EXPECT_EQ(driver().countCalls("FT_Read h1 1"), 100);
  EXPECT_EQ(driver().countCalls("FT_Read"), 100);
}

TEST_F(LinkTest, ReadSizeTakesEffectAtTheNextReadAndNeverExceedsTheBuffer) {
  ASSERT_EQ(open(), OpenResult::Opened);
  driver().stream = counting(256 * 3);
  const int32_t sizes[][2] = {{256, 256}, {257, 32}, {100000, 32}, {-5, 32}, {7, 7}};
  for (auto [bufsize, asked] : sizes) {
    SCOPED_TRACE("bufsize " + std::to_string(bufsize));
    reader().setReadSize(bufsize);  // without a reopen, as a bad settings file would
    take(1);
    EXPECT_EQ(driver().calls.back(), "FT_Read h1 " + std::to_string(asked));
    take(asked - 1);  // use the buffer up
  }
  EXPECT_EQ(driver().largestReadCount, 256u);
}
