// The six functions of the USB chip's D2XX driver library that the capture link uses, declared
// here from their documented behaviour: each returns a status, 0 (FT_OK) when it succeeded.
// The 32-bit Windows library uses the stdcall convention; elsewhere (the unit tests' scripted
// driver) the platform's own. On Windows they are taken by ordinal at run time, so the table
// of pointers below is what the link calls through.
#pragma once
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define D2XX_CALL __stdcall
#else
#define D2XX_CALL
#endif

// 32 bits wide on every target: the library's status, size and count words are 32-bit.
using FT_STATUS = uint32_t;
using FT_HANDLE = void*;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;

constexpr uint32_t FT_OPEN_BY_DESCRIPTION = 2;

// The library's export ordinals.
constexpr int kOrdinalClose = 2;
constexpr int kOrdinalRead = 3;
constexpr int kOrdinalSetTimeouts = 17;
constexpr int kOrdinalOpenEx = 27;
constexpr int kOrdinalSetBitMode = 31;
constexpr int kOrdinalSetUSBParameters = 33;

extern "C" {
// Opens the device found by `searchArgument` (a description string for FT_OPEN_BY_DESCRIPTION).
FT_STATUS D2XX_CALL FT_OpenEx(void* searchArgument, uint32_t flags, FT_HANDLE* handle);
FT_STATUS D2XX_CALL FT_SetBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode);
FT_STATUS D2XX_CALL FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize,
                                        uint32_t outTransferSize);
FT_STATUS D2XX_CALL FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
// Waits until `count` bytes arrived or the read time-out passed; stores how many arrived.
FT_STATUS D2XX_CALL FT_Read(FT_HANDLE handle, void* buffer, uint32_t count, uint32_t* received);
FT_STATUS D2XX_CALL FT_Close(FT_HANDLE handle);
}

struct D2xxFunctions {
  FT_STATUS(D2XX_CALL* openEx)(void*, uint32_t, FT_HANDLE*) = nullptr;
  FT_STATUS(D2XX_CALL* setBitMode)(FT_HANDLE, uint8_t, uint8_t) = nullptr;
  FT_STATUS(D2XX_CALL* setUSBParameters)(FT_HANDLE, uint32_t, uint32_t) = nullptr;
  FT_STATUS(D2XX_CALL* setTimeouts)(FT_HANDLE, uint32_t, uint32_t) = nullptr;
  FT_STATUS(D2XX_CALL* read)(FT_HANDLE, void*, uint32_t, uint32_t*) = nullptr;
  FT_STATUS(D2XX_CALL* close)(FT_HANDLE) = nullptr;
};

namespace D2xxLibrary {

enum class BindResult {
  Bound,            // all six functions are in `functions`
  LibraryMissing,   // the library file could not be loaded
  FunctionMissing,  // the library lacks one of the six ordinals
};

extern D2xxFunctions functions;

// Makes the six functions available, loading the library on the first call that succeeds.
BindResult bind();

}  // namespace D2xxLibrary
