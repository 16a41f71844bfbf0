#include "scripted_d2xx.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kReadBufferBytes = 256;
constexpr uint8_t kGarbage = 0xEE;

std::string numbers(uint32_t first, uint32_t second) { return std::to_string(first) + " " + std::to_string(second); }

}  // namespace

// The table carries plain function pointers, so its functions find their driver here.
ScriptedD2xx* ScriptedD2xx::active_ = nullptr;

ScriptedD2xx::ScriptedD2xx() { active_ = this; }

ScriptedD2xx::~ScriptedD2xx() {
  if (active_ == this) active_ = nullptr;
}

FT_HANDLE ScriptedD2xx::handle(uint32_t n) { return reinterpret_cast<FT_HANDLE>(uintptr_t{0x1000} + n); }

int ScriptedD2xx::countCalls(const std::string& prefix) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
    return call.compare(0, prefix.size(), prefix) == 0;
  }));
}

void ScriptedD2xx::record(const char* function, FT_HANDLE handle, const std::string& arguments) {
  std::string name = handle == nullptr ? "null" : "unknown";
  for (uint32_t n = 1; n <= handlesIssued; ++n)
    if (handle == ScriptedD2xx::handle(n)) name = "h" + std::to_string(n);
  calls.push_back(std::string(function) + " " + name + (arguments.empty() ? "" : " " + arguments));
}

bool ScriptedD2xx::checkOpen(FT_HANDLE handle) {
  if (handle != nullptr && handle == openHandle_) return true;
  misused(calls.back() + ": a call on a handle that is not open");
  return false;
}

struct ScriptedD2xxCalls {
  static ScriptedD2xx& active() {
    if (ScriptedD2xx::active_ == nullptr) std::abort();  // a driver call with no driver alive
    return *ScriptedD2xx::active_;
  }

  static FT_STATUS D2XX_CALL openEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
    ScriptedD2xx& driver = active();
    const char* description = static_cast<const char*>(searchArgument);
    driver.calls.push_back("FT_OpenEx " + std::string(description) + " " + std::to_string(flags));
    if (std::strcmp(description, "KESTRAVU") != 0 || flags != FT_OPEN_BY_DESCRIPTION)
      driver.misused(driver.calls.back() + ": the device is opened by its description");
    if (driver.openHandle_ != nullptr) driver.misused("the device is opened again before it is closed");
    if (driver.openStatus != FT_OK) return driver.openStatus;
    *handle = driver.openHandle_ = ScriptedD2xx::handle(++driver.handlesIssued);
    return FT_OK;
  }

  static FT_STATUS D2XX_CALL setBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode) {
    ScriptedD2xx& driver = active();
    driver.record("FT_SetBitMode", handle, numbers(mask, mode));
    driver.checkOpen(handle);
    return driver.bitModeStatus;
  }

  static FT_STATUS D2XX_CALL setUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize) {
    ScriptedD2xx& driver = active();
    driver.record("FT_SetUSBParameters", handle, numbers(inTransferSize, outTransferSize));
    driver.checkOpen(handle);
    if (inTransferSize < 1 || inTransferSize > kReadBufferBytes)
      driver.misused(driver.calls.back() + ": the transfer size is a read size of 1 ... 256");
    return driver.usbParametersStatus;
  }

  static FT_STATUS D2XX_CALL setTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
    ScriptedD2xx& driver = active();
    driver.record("FT_SetTimeouts", handle, numbers(readTimeoutMs, writeTimeoutMs));
    driver.checkOpen(handle);
    return driver.timeoutsStatus;
  }

  static FT_STATUS D2XX_CALL read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
    ScriptedD2xx& driver = active();
    driver.record("FT_Read", handle, std::to_string(count));
    driver.largestReadCount = std::max(driver.largestReadCount, count);
    driver.lastReadBuffer = buffer;
    *received = 0;
    if (!driver.checkOpen(handle)) return FT_INVALID_HANDLE;
    if (count < 1 || count > kReadBufferBytes) {
      driver.misused(driver.calls.back() + ": a read asks for 1 ... 256 bytes, never more than the read buffer");
      return FT_IO_ERROR;
    }
    ScriptedD2xx::Read outcome = driver.nextRead(count);
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    std::memset(bytes, kGarbage, count);
    size_t copied = std::min<size_t>(outcome.bytes.size(), count);
    if (copied > 0) std::memcpy(bytes, outcome.bytes.data(), copied);
    *received = outcome.claimed >= 0 ? static_cast<uint32_t>(outcome.claimed) : static_cast<uint32_t>(copied);
    return outcome.status;
  }

  static FT_STATUS D2XX_CALL close(FT_HANDLE handle) {
    ScriptedD2xx& driver = active();
    driver.record("FT_Close", handle, "");
    if (driver.checkOpen(handle)) driver.openHandle_ = nullptr;
    return driver.closeStatus;
  }
};

const D2xxFunctions& ScriptedD2xx::functions() {
  static const D2xxFunctions table = [] {
    D2xxFunctions functions;
    functions.openEx = ScriptedD2xxCalls::openEx, functions.setBitMode = ScriptedD2xxCalls::setBitMode;
    functions.setUSBParameters = ScriptedD2xxCalls::setUSBParameters;
    functions.setTimeouts = ScriptedD2xxCalls::setTimeouts;
    functions.read = ScriptedD2xxCalls::read, functions.close = ScriptedD2xxCalls::close;
    return functions;
  }();
  return table;
}

ScriptedD2xx::Read ScriptedD2xx::nextRead(uint32_t count) {
  if (reads.empty()) return streamRead(count);
  Read next = std::move(reads.front());
  reads.pop_front();
  return next;
}

// 0 bytes once the stream is used up: a time-out.
ScriptedD2xx::Read ScriptedD2xx::streamRead(uint32_t count) {
  size_t left = stream.size() - streamPosition_;
  uint32_t chunk = chunkSizes[chunkIndex_++ % chunkSizes.size()];
  size_t take = std::min<size_t>({left, count, chunk});
  Read read;
  read.bytes.assign(stream.begin() + static_cast<long>(streamPosition_),
                    stream.begin() + static_cast<long>(streamPosition_ + take));
  streamPosition_ += take;
  return read;
}
