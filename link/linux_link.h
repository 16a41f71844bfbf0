// The device link a Linux program uses: the vendor's D2XX library for Linux (libftd2xx.so) when
// it is found with all six functions, otherwise libftdi1. The simulated device is built as a
// libftd2xx.so too, so putting it on the library path selects it. Beyond a DeviceLink, it lists
// the attached KESTRAVU devices by USB serial number, opens a chosen one, and watches for
// devices coming and going.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "device_link.h"
#include "device_watch.h"

enum class LinuxBackend {
  VendorD2xx,  // libftd2xx.so, loaded at run time
  Libftdi,     // libftdi1, linked in
};

// For a help text or a log line: "D2XX (libftd2xx.so)" or "libftdi1".
const char* linuxBackendName(LinuxBackend backend);

class LinuxLink : public DeviceLink {
 public:
  // The serial numbers of the attached KESTRAVU devices, in the bus's order. A device another
  // program holds may be missing (libftdi1 reads its strings by opening it).
  virtual std::vector<std::string> attachedSerials() = 0;
  // The device the next open (or reopen) takes: the KESTRAVU device with this serial number, or,
  // when empty, the first one.
  virtual void chooseSerial(const std::string& serial) = 0;
  // A watch on devices coming and going: libusb's hotplug events with libftdi1 where libusb has
  // them, otherwise attachedSerials() polled every 500 ms on the caller's thread. Null when
  // neither can be made. It must not outlive the link.
  virtual std::unique_ptr<DeviceWatch> watchDevices() = 0;
  virtual LinuxBackend backend() const = 0;
};

// The link, not yet open; it owns whatever library it loaded. `clock` must outlive it. Stores
// the backend it chose in `chosen` when that is not null.
std::unique_ptr<LinuxLink> makeLinuxLink(Clock& clock, LinuxBackend* chosen = nullptr);
