// Tells a Linux program's event loop when capture devices may have come or gone, without Qt:
// its descriptor becomes readable (for a QSocketNotifier or poll), then changed() says whether
// to look at the devices again. Two kinds: libusb's hotplug events for the chip maker's vendor
// id, delivered on a thread of the watch's own; or, where libusb has none and for the vendor's
// D2XX library, a list of serial numbers taken on the owner's thread at a fixed period.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DeviceWatch {
 public:
  virtual ~DeviceWatch() = default;
  // Readable while there is news; changed() clears it.
  virtual int descriptor() const = 0;
  // True when devices may have come or gone since the last call.
  virtual bool changed() = 0;
};

using SerialLister = std::function<std::vector<std::string>()>;

// libusb's hotplug events for vendor 0x0403, any product; null where libusb cannot deliver them.
std::unique_ptr<DeviceWatch> makeHotplugWatch();
// Calls `list` every `periodMs` from changed() and reports a list that differs from the one
// before; null when no timer could be made.
std::unique_ptr<DeviceWatch> makePollingWatch(SerialLister list, unsigned int periodMs = 500);
