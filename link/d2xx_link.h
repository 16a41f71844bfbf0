// The device link over the D2XX driver's six functions, whichever table serves them: the
// vendor's library (d2xx_library.h), the simulated device, or a test's scripted driver.
//   open:   FT_Close of a handle still open, FT_OpenEx("KESTRAVU", by description), FT_SetBitMode(0, 0),
//           FT_SetUSBParameters(read size, 0), FT_SetTimeouts(3000, 3000); the first failure
//           ends the sequence and leaves the device open.
//   reopen: FT_Close, the open sequence, then FT_SetUSBParameters once more.
//   read:   FT_Read of the read size.
// A table without functions (a library that did not load) fails every open.
#pragma once
#include <string>

#include "d2xx.h"
#include "device_link.h"

class D2xxLink final : public DeviceLink {
 public:
  static constexpr char kDeviceDescription[] = "KESTRAVU";
  static constexpr uint32_t kWriteTimeoutMs = 3000;

  explicit D2xxLink(const D2xxFunctions& functions) : d2xx_(functions) {}
  ~D2xxLink() override { close(); }
  D2xxLink(const D2xxLink&) = delete;
  D2xxLink& operator=(const D2xxLink&) = delete;

  OpenResult open(uint32_t readSize) override;
  void reopen(uint32_t readSize) override;
  void close() override;
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // The device the next open takes: the one with this USB serial number, or, when empty, the one
  // described "KESTRAVU".
  void chooseSerial(const std::string& serial) { serial_ = serial; }

  // The status of the driver call that ended the last open or read.
  FT_STATUS lastStatus() const { return lastStatus_; }
  bool isOpen() const { return handle_ != nullptr; }

 private:
  OpenResult fail(OpenResult result, FT_STATUS status);

  D2xxFunctions d2xx_;
  FT_HANDLE handle_ = nullptr;  // the open device, null while closed
  FT_STATUS lastStatus_ = FT_OK;
  std::string serial_;
};
