// The driver functions of the simulated device, each logged with its arguments and status.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sim_device.h"
#include "sim_link.h"

namespace SimDevice {
namespace {

constexpr FT_STATUS kInvalidParameter = 6;

// One line per call, flushed at once so that a test can follow it while the program runs. A
// reader may read on a thread of its own while another lists the devices: each line goes out in
// one write, so that two calls' lines never mix.
__attribute__((format(printf, 1, 2))) void logLine(const char* format, ...) {
  if (!device.logChecked) {
    device.logChecked = true;
    if (const char* path = setting("KESTRAVU_SIM_LOG")) device.log = std::fopen(path, "a");
  }
  if (device.log == nullptr) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  const size_t end = std::min(static_cast<size_t>(length), sizeof line - 2);
  line[end] = '\n';
  line[end + 1] = '\0';
  std::fputs(line, device.log);
  std::fflush(device.log);
}

uint32_t handleNumber(FT_HANDLE handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

bool isOpen(FT_HANDLE handle) { return device.openHandle != 0 && handleNumber(handle) == device.openHandle; }

const char* serialNumber() {
  const char* serial = setting("KESTRAVU_SIM_SERIAL");
  return serial != nullptr ? serial : kDefaultSerial;
}

// By its description or by its serial number.
bool named(const void* searchArgument, uint32_t flags) {
  if (searchArgument == nullptr) return false;
  const char* name = static_cast<const char*>(searchArgument);
  if (flags == FT_OPEN_BY_DESCRIPTION) return std::strcmp(name, "KESTRAVU") == 0;
  return flags == FT_OPEN_BY_SERIAL_NUMBER && std::strcmp(name, serialNumber()) == 0;
}

FT_STATUS openStatus(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
  if (flagSet("KESTRAVU_SIM_ABSENT") || opensUsedUp()) return FT_DEVICE_NOT_FOUND;
  if (handle == nullptr) return kInvalidParameter;
  if (!named(searchArgument, flags)) return FT_DEVICE_NOT_FOUND;
  if (device.openHandle != 0) return FT_DEVICE_NOT_OPENED;  // one program at a time
  if (!device.pluggedIn && !plugIn()) return FT_DEVICE_NOT_OPENED;
  device.openHandle = ++device.handlesIssued;
  device.readTimeoutMs = 0;
  *handle = reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(device.openHandle));
  return FT_OK;
}

// Waits until `count` bytes arrived or the read time-out passed, then reports what arrived.
FT_STATUS readStatus(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
  if (!isOpen(handle)) return FT_INVALID_HANDLE;
  if (buffer == nullptr || received == nullptr) return kInvalidParameter;
  *received = 0;
  uint64_t limit = count;
  if (device.failAfterBytes >= 0) {
    uint64_t failAfter = static_cast<uint64_t>(device.failAfterBytes);
    if (device.bytesDelivered >= failAfter) return FT_IO_ERROR;
    if (failAfter - device.bytesDelivered < limit) limit = failAfter - device.bytesDelivered;  // unplugged mid-read
  }
  *received = static_cast<uint32_t>(waitForArrivals(static_cast<uint8_t*>(buffer), limit, device.readTimeoutMs));
  return FT_OK;
}

FT_STATUS D2XX_CALL openEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
  FT_STATUS status = openStatus(searchArgument, flags, handle);
  bool named = (flags == 1 || flags == FT_OPEN_BY_DESCRIPTION) && searchArgument != nullptr;
  if (status == FT_OK)
    logLine("FT_OpenEx description=%s flags=%u -> 0 handle=%u", static_cast<const char*>(searchArgument), flags,
            device.openHandle);
  else if (named)
    logLine("FT_OpenEx description=%s flags=%u -> %u", static_cast<const char*>(searchArgument), flags, status);
  else
    logLine("FT_OpenEx argument=%p flags=%u -> %u", searchArgument, flags, status);
  return status;
}

FT_STATUS D2XX_CALL setBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode) {
  FT_STATUS status = isOpen(handle) ? FT_OK : FT_INVALID_HANDLE;
  logLine("FT_SetBitMode handle=%u mask=%u mode=%u -> %u", handleNumber(handle), unsigned{mask}, unsigned{mode},
          status);
  return status;
}

FT_STATUS D2XX_CALL setUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize) {
  FT_STATUS status = isOpen(handle) ? FT_OK : FT_INVALID_HANDLE;
  logLine("FT_SetUSBParameters handle=%u in=%u out=%u -> %u", handleNumber(handle), inTransferSize,
          outTransferSize, status);
  return status;
}

FT_STATUS D2XX_CALL setTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  FT_STATUS status = isOpen(handle) ? FT_OK : FT_INVALID_HANDLE;
  if (status == FT_OK) device.readTimeoutMs = readTimeoutMs;
  logLine("FT_SetTimeouts handle=%u read=%u write=%u -> %u", handleNumber(handle), readTimeoutMs, writeTimeoutMs,
          status);
  return status;
}

FT_STATUS D2XX_CALL read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
  FT_STATUS status = readStatus(handle, buffer, count, received);
  logLine("FT_Read handle=%u count=%u -> %u received=%u", handleNumber(handle), count, status,
          status == FT_OK ? *received : 0u);
  return status;
}

FT_STATUS D2XX_CALL close(FT_HANDLE handle) {
  FT_STATUS status = isOpen(handle) ? FT_OK : FT_INVALID_HANDLE;
  if (status == FT_OK) device.openHandle = 0;
  logLine("FT_Close handle=%u -> %u", handleNumber(handle), status);
  return status;
}

constexpr D2xxFunctions kFunctions{openEx, setBitMode, setUSBParameters, setTimeouts, read, close};

// Listed as absent while closed, the device has been unplugged: it comes back afresh, its
// stream and KESTRAVU_SIM_FAIL_AFTER from the start.
uint32_t attachedCount() {
  if (!flagSet("KESTRAVU_SIM_ABSENT")) return 1;
  if (device.openHandle == 0) device.pluggedIn = false;
  return 0;
}

FT_STATUS D2XX_CALL createDeviceInfoList(uint32_t* count) {
  if (count == nullptr) return kInvalidParameter;
  *count = attachedCount();
  logLine("FT_CreateDeviceInfoList -> 0 count=%u", *count);
  return FT_OK;
}

// An FT232R (type 5, id 0x04036001) with the open handle, if any.
FT_STATUS D2XX_CALL getDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id,
                                        uint32_t* location, void* serial, void* description, FT_HANDLE* handle) {
  if (index >= attachedCount()) {
    logLine("FT_GetDeviceInfoDetail index=%u -> %u", index, FT_DEVICE_NOT_FOUND);
    return FT_DEVICE_NOT_FOUND;
  }
  if (flags != nullptr) *flags = device.openHandle != 0 ? 1 : 0;
  if (type != nullptr) *type = 5;
  if (id != nullptr) *id = 0x04036001;
  if (location != nullptr) *location = 0x11;
  if (serial != nullptr) std::snprintf(static_cast<char*>(serial), kD2xxSerialBytes, "%s", serialNumber());
  if (description != nullptr) std::snprintf(static_cast<char*>(description), kD2xxDescriptionBytes, "KESTRAVU");
  if (handle != nullptr) *handle = reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(device.openHandle));
  logLine("FT_GetDeviceInfoDetail index=%u -> 0 serial=%s description=KESTRAVU", index, serialNumber());
  return FT_OK;
}

constexpr D2xxListFunctions kListFunctions{createDeviceInfoList, getDeviceInfoDetail};

}  // namespace

const D2xxFunctions& d2xxFunctions() { return kFunctions; }
const D2xxListFunctions& d2xxListFunctions() { return kListFunctions; }

}  // namespace SimDevice
