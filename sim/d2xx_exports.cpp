// The driver functions under the library's own names, as the stand-in library exports them:
// FTD2XX.def gives the six the Windows program takes their ordinals (and exports nothing else),
// libftd2xx.map keeps everything else hidden elsewhere.
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

// The device list, which only the Linux program reads.
FT_STATUS D2XX_CALL FT_CreateDeviceInfoList(uint32_t* count) {
  return SimDevice::d2xxListFunctions().createDeviceInfoList(count);
}

FT_STATUS D2XX_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type, uint32_t* id,
                                           uint32_t* location, void* serial, void* description, FT_HANDLE* handle) {
  return SimDevice::d2xxListFunctions().getDeviceInfoDetail(index, flags, type, id, location, serial, description,
                                                            handle);
}

}
