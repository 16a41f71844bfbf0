// The six functions under the driver library's own names, as the stand-in library exports them:
// FTD2XX.def gives them their ordinals on Windows, libftd2xx.map keeps everything else hidden
// elsewhere.
#include "sim_link.h"

extern "C" {

FT_STATUS D2XX_CALL FT_OpenEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle) {
  return SimDevice::d2xxFunctions().openEx(searchArgument, flags, handle);
}

FT_STATUS D2XX_CALL FT_SetBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode) {
  return SimDevice::d2xxFunctions().setBitMode(handle, mask, mode);
}

FT_STATUS D2XX_CALL FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize) {
  return SimDevice::d2xxFunctions().setUSBParameters(handle, inTransferSize, outTransferSize);
}

FT_STATUS D2XX_CALL FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  return SimDevice::d2xxFunctions().setTimeouts(handle, readTimeoutMs, writeTimeoutMs);
}

FT_STATUS D2XX_CALL FT_Read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received) {
  return SimDevice::d2xxFunctions().read(handle, buffer, count, received);
}

FT_STATUS D2XX_CALL FT_Close(FT_HANDLE handle) { return SimDevice::d2xxFunctions().close(handle); }

}
