#include "fake_d2xx.h"

#include <algorithm>
#include <cstring>

namespace FakeD2xx {

Driver driver;

void reset() { driver = Driver{}; }

FT_HANDLE handleNumber(uint32_t n) { return reinterpret_cast<FT_HANDLE>(uintptr_t{0x1000} + n); }

int countCalls(const std::string& function) {
  return static_cast<int>(std::count_if(driver.calls.begin(), driver.calls.end(), [&](const std::string& call) {
    return call.compare(0, function.size(), function) == 0;
  }));
}

namespace {

std::string handleName(FT_HANDLE handle) {
  for (uint32_t n = 1; n <= driver.handlesIssued; ++n)
    if (handle == handleNumber(n)) return "h" + std::to_string(n);
  return handle == nullptr ? "null" : "unknown";
}

void record(const std::string& function, FT_HANDLE handle, const std::string& arguments) {
  driver.calls.push_back(function + " " + handleName(handle) + (arguments.empty() ? "" : " " + arguments));
}

FT_STATUS streamRead(uint8_t* buffer, uint32_t count, uint32_t* received) {
  size_t left = driver.stream.size() - driver.streamPosition;
  uint32_t chunk = driver.chunkSizes[driver.chunkIndex++ % driver.chunkSizes.size()];
  size_t take = std::min<size_t>({left, count, chunk});
  if (take > 0) std::memcpy(buffer, driver.stream.data() + driver.streamPosition, take);
  driver.streamPosition += take;
  *received = static_cast<uint32_t>(take);  // 0 once the stream is used up: a time-out
  return FT_OK;
}

}  // namespace

}  // namespace FakeD2xx

using FakeD2xx::driver;

extern "C" {

FT_STATUS FT_OpenEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
  driver.calls.push_back("FT_OpenEx " + std::string(static_cast<const char*>(searchArgument)) + " " +
                         std::to_string(flags));
  if (driver.openStatus == FT_OK) *handle = FakeD2xx::handleNumber(++driver.handlesIssued);
  return driver.openStatus;
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode) {
  FakeD2xx::record("FT_SetBitMode", handle, std::to_string(mask) + " " + std::to_string(mode));
  return driver.bitModeStatus;
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize) {
  FakeD2xx::record("FT_SetUSBParameters", handle,
                   std::to_string(inTransferSize) + " " + std::to_string(outTransferSize));
  return driver.usbParametersStatus;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  FakeD2xx::record("FT_SetTimeouts", handle, std::to_string(readTimeoutMs) + " " + std::to_string(writeTimeoutMs));
  return driver.timeoutsStatus;
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
  FakeD2xx::record("FT_Read", handle, std::to_string(count));
  driver.largestReadCount = std::max(driver.largestReadCount, count);
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  if (driver.reads.empty()) return FakeD2xx::streamRead(bytes, count, received);
  FakeD2xx::ScriptedRead read = driver.reads.front();
  driver.reads.pop_front();
  size_t copied = std::min<size_t>(read.bytes.size(), count);
  if (copied > 0) std::memcpy(bytes, read.bytes.data(), copied);
  *received = read.claimed >= 0 ? static_cast<uint32_t>(read.claimed) : static_cast<uint32_t>(copied);
  return read.status;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  FakeD2xx::record("FT_Close", handle, "");
  return driver.closeStatus;
}

}
