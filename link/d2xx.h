// The six functions of the USB chip's D2XX driver library that the capture link uses, declared
// here from their documented behaviour: each returns a status, 0 (FT_OK) when it succeeded.
// The 32-bit Windows library uses the stdcall convention; elsewhere the platform's own. The link
// calls them through a table: loaded from the library at run time (d2xx_library.h), or filled
// in by the simulated device or a test's scripted driver.
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

constexpr uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr uint32_t FT_OPEN_BY_DESCRIPTION = 2;

// The library's export ordinals.
constexpr int kOrdinalClose = 2;
constexpr int kOrdinalRead = 3;
constexpr int kOrdinalSetTimeouts = 17;
constexpr int kOrdinalOpenEx = 27;
constexpr int kOrdinalSetBitMode = 31;
constexpr int kOrdinalSetUSBParameters = 33;

// FT_OpenEx(searchArgument, flags, handle): opens the device found by `searchArgument` (a
// description string for FT_OPEN_BY_DESCRIPTION). FT_Read(handle, buffer, count, received):
// waits until `count` bytes arrived or the read time-out passed; stores how many arrived.
struct D2xxFunctions {
  FT_STATUS(D2XX_CALL* openEx)(void*, uint32_t, FT_HANDLE*) = nullptr;
  FT_STATUS(D2XX_CALL* setBitMode)(FT_HANDLE, uint8_t, uint8_t) = nullptr;
  FT_STATUS(D2XX_CALL* setUSBParameters)(FT_HANDLE, uint32_t, uint32_t) = nullptr;
  FT_STATUS(D2XX_CALL* setTimeouts)(FT_HANDLE, uint32_t, uint32_t) = nullptr;
  FT_STATUS(D2XX_CALL* read)(FT_HANDLE, void*, uint32_t, uint32_t*) = nullptr;
  FT_STATUS(D2XX_CALL* close)(FT_HANDLE) = nullptr;
};

