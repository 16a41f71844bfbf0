// The device link a Linux program uses: the vendor's D2XX library for Linux (libftd2xx.so) when
// it is found with all six functions, otherwise libftdi1. The simulated device is built as a
// libftd2xx.so too, so putting it on the library path selects it.
#pragma once
#include <memory>

#include "clock.h"
#include "device_link.h"

enum class LinuxBackend {
  VendorD2xx,  // libftd2xx.so, loaded at run time
  Libftdi,     // libftdi1, linked in
};

// For a help text or a log line: "D2XX (libftd2xx.so)" or "libftdi1".
const char* linuxBackendName(LinuxBackend backend);

// The link, not yet open; it owns whatever library it loaded. `clock` must outlive it. Stores
// the backend it chose in `chosen` when that is not null.
std::unique_ptr<DeviceLink> makeLinuxLink(Clock& clock, LinuxBackend* chosen = nullptr);
