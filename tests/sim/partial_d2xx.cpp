// A driver library that lacks FT_SetTimeouts (ordinal 17 on Windows), as an old or foreign
// build might: the library must not load rather than leave a missing function to be called.
#include "d2xx.h"

extern "C" {
FT_STATUS D2XX_CALL FT_OpenEx(void*, uint32_t, FT_HANDLE*) { return FT_IO_ERROR; }
FT_STATUS D2XX_CALL FT_SetBitMode(FT_HANDLE, uint8_t, uint8_t) { return FT_IO_ERROR; }
FT_STATUS D2XX_CALL FT_SetUSBParameters(FT_HANDLE, uint32_t, uint32_t) { return FT_IO_ERROR; }
FT_STATUS D2XX_CALL FT_Read(FT_HANDLE, void*, uint32_t, uint32_t*) { return FT_IO_ERROR; }
FT_STATUS D2XX_CALL FT_Close(FT_HANDLE) { return FT_IO_ERROR; }
}
