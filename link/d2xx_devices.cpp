#include "d2xx_devices.h"

#include <cstring>

#include "d2xx_link.h"

std::vector<std::string> kestravuSerials(const D2xxListFunctions& functions) {
  std::vector<std::string> serials;
  uint32_t count = 0;
  if (functions.createDeviceInfoList == nullptr || functions.getDeviceInfoDetail == nullptr ||
      functions.createDeviceInfoList(&count) != FT_OK)
    return serials;
  for (uint32_t index = 0; index < count; ++index) {
    uint32_t flags = 0;
    uint32_t type = 0;
    uint32_t id = 0;
    uint32_t location = 0;
    char serial[kD2xxSerialBytes + 1] = {};
    char description[kD2xxDescriptionBytes + 1] = {};
    FT_HANDLE handle = nullptr;
    if (functions.getDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description, &handle) != FT_OK)
      continue;
    if (std::strcmp(description, D2xxLink::kDeviceDescription) == 0) serials.emplace_back(serial);
  }
  return serials;
}
