// The attached devices as the D2XX library lists them, and opening one by its USB serial number:
// two functions of the vendor's API beyond the six the capture link calls, declared here from
// their documented behaviour, and loaded only by the Linux program.
//   FT_CreateDeviceInfoList(count): makes the library's list of attached devices, stores how many.
//   FT_GetDeviceInfoDetail(index, flags, type, id, location, serial, description, handle): one
//     entry of that list; `serial` (16 bytes) and `description` (64 bytes) get NUL-terminated
//     strings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "d2xx.h"

constexpr size_t kD2xxSerialBytes = 16;
constexpr size_t kD2xxDescriptionBytes = 64;

struct D2xxListFunctions {
  FT_STATUS(D2XX_CALL* createDeviceInfoList)(uint32_t*) = nullptr;
  FT_STATUS(D2XX_CALL* getDeviceInfoDetail)(uint32_t, uint32_t*, uint32_t*, uint32_t*, uint32_t*, void*, void*,
                                            FT_HANDLE*) = nullptr;
};

// The serial numbers of the devices described "KESTRAVU", in the library's order; none when the
// functions are missing or fail.
std::vector<std::string> kestravuSerials(const D2xxListFunctions& functions);
