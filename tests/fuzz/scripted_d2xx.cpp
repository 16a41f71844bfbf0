#include "scripted_d2xx.h"

#include <cstring>

#include "settings.h"
#include "usb_link.h"

namespace ScriptedD2xx {

Driver driver;

namespace {

void checkOpen(FT_HANDLE handle, const char* rule) { check(handle != nullptr && handle == driver.openHandle, rule); }

// A read's outcome from two input bytes (s, c): s % 16 == 15 an error status s with garbage in
// the count; s % 16 == 14 the whole request written but more claimed than asked for; else FT_OK
// with the whole request (bit 4 of s) or min(c, request) bytes, 0 being a time-out.
FT_STATUS scriptedRead(uint8_t* buffer, uint32_t count, uint32_t* received) {
  const uint8_t s = driver.input->next(), c = driver.input->next();
  std::memset(buffer, 0xEE, count);  // whatever the driver leaves beyond the bytes it reports
  if (s % 16 == 15) {
    *received = c;
    driver.lastReadFailed = true;
    return s;
  }
  const uint32_t bytes = s % 16 == 14 || (s & 0x10) ? count : c < count ? c : count;
  for (uint32_t i = 0; i < bytes; ++i) buffer[i] = streamByte(driver.delivered + i);
  if (s % 16 == 14) {
    *received = count + 1 + c;
    driver.lastReadFailed = true;
    return FT_OK;
  }
  *received = bytes;
  driver.delivered += bytes;
  driver.lastReadFailed = bytes == 0;
  return FT_OK;
}

}  // namespace

}  // namespace ScriptedD2xx

using ScriptedD2xx::driver;

extern "C" {

FT_STATUS FT_OpenEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
  check(std::strcmp(static_cast<const char*>(searchArgument), "KESTRAVU") == 0 && flags == FT_OPEN_BY_DESCRIPTION,
        "the device is opened by its description");
  check(driver.openHandle == nullptr, "the device is closed before it is opened again");
  if (driver.sequenceStatuses[0] != FT_OK) return driver.sequenceStatuses[0];
  *handle = driver.openHandle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x1000} + ++driver.handlesIssued);
  return FT_OK;
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, uint8_t, uint8_t) {
  ScriptedD2xx::checkOpen(handle, "bit mode set on the open handle");
  return driver.sequenceStatuses[1];
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t) {
  ScriptedD2xx::checkOpen(handle, "transfer size set on the open handle");
  check(inTransferSize >= 1 && inTransferSize <= 256, "the transfer size is a read size of 1 ... 256");
  return driver.sequenceStatuses[2];
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t, uint32_t) {
  ScriptedD2xx::checkOpen(handle, "time-outs set on the open handle");
  return driver.sequenceStatuses[3];
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
  ScriptedD2xx::checkOpen(handle, "reads only from the open handle");
  check(count >= 1 && count <= 256, "a read asks for 1 ... 256 bytes, never more than the read buffer");
  check(buffer == StreamReader::readerState.readBuffer, "reads land in the read buffer");
  check(driver.served == driver.delivered, "no read while delivered bytes are still unserved");
  if (settings.bufsize >= 1 && settings.bufsize <= 256)
    check(count == static_cast<uint32_t>(settings.bufsize), "a read asks for the read size in force");
  ++driver.readsThisStep;
  return ScriptedD2xx::scriptedRead(static_cast<uint8_t*>(buffer), count, received);
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  ScriptedD2xx::checkOpen(handle, "only the open handle is closed");
  driver.openHandle = nullptr;
  return driver.input != nullptr && !driver.input->atEnd() ? driver.input->next() % 2 : FT_OK;
}

}  // extern "C"
