// The device link over libftdi1, for Linux without the vendor's D2XX library. libftdi1 is
// reached through a table of the few functions the link calls, and libusb (for the stream)
// through another, so that tests can script them. The stream's transfers are sized for the bus,
// not for the viewer's reads, so the read size concerns nothing here. A libftdi1 context has no
// locks: it is used on the link's owner's thread only, never while the stream's thread runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bulk_in_stream.h"
#include "clock.h"
#include "device_link.h"

struct ftdi_context;
struct ftdi_device_list;
struct libusb_device;

// The libftdi1 calls of the link, with libftdi1's own signatures and results (negative on
// failure), plus the open device's bulk IN endpoint, which libftdi1 only offers as fields.
struct FtdiFunctions {
  ftdi_context* (*newContext)() = nullptr;
  void (*freeContext)(ftdi_context*) = nullptr;
  int (*findAll)(ftdi_context*, ftdi_device_list**, int vendor, int product) = nullptr;
  void (*freeList)(ftdi_device_list**) = nullptr;
  int (*getStrings)(ftdi_context*, libusb_device*, char* manufacturer, int manufacturerSize, char* product,
                    int productSize, char* serial, int serialSize) = nullptr;
  int (*openDevice)(ftdi_context*, libusb_device*) = nullptr;
  int (*closeDevice)(ftdi_context*) = nullptr;
  int (*setBitMode)(ftdi_context*, unsigned char mask, unsigned char mode) = nullptr;
  int (*setLatencyTimer)(ftdi_context*, unsigned char milliseconds) = nullptr;
  UsbEndpoint (*inEndpoint)(ftdi_context*) = nullptr;
};

// The table bound to the installed libftdi1.
const FtdiFunctions& libftdiFunctions();

class FtdiLink final : public DeviceLink {
 public:
  static constexpr char kProductString[] = "KESTRAVU";
  // The chip holds back a part-filled packet until its latency timer runs out (16 ms by
  // default, most of a frame); 1 ms is advised against by the chip's maker. It also bounds how
  // long an idle chip's transfers take to come back.
  static constexpr unsigned char kLatencyTimerMs = 2;

  explicit FtdiLink(Clock& clock, const FtdiFunctions& functions = libftdiFunctions(),
                    const UsbFunctions& usb = libusbFunctions(), uint32_t bufferBytes = BulkInStream::kBufferBytes)
      : clock_(clock), ftdi_(functions), stream_(usb, bufferBytes) {}
  FtdiLink(const FtdiLink&) = delete;
  FtdiLink& operator=(const FtdiLink&) = delete;
  ~FtdiLink() override;

  OpenResult open(uint32_t readSize) override;
  void reopen(uint32_t readSize) override;
  void close() override;
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // The device the next open takes: the KESTRAVU device with this USB serial number, or, when
  // empty, the first KESTRAVU device that opens.
  void chooseSerial(const std::string& serial) { serial_ = serial; }
  // The serial numbers of the attached KESTRAVU devices whose strings can be read, in the bus's
  // order. Read through a context of its own: libftdi1 reads a listed device's strings through
  // the context's open device, when it has one.
  std::vector<std::string> attachedSerials();

  // libftdi1's code from the call that ended the last open or read; 0 when it succeeded.
  int lastError() const { return lastError_; }
  bool isOpen() const { return deviceOpen_; }
  const BulkInStream& stream() const { return stream_; }

 private:
  OpenResult openAndStream();
  bool openFirstMatchingDevice();
  void stopAndCloseDevice();
  OpenResult fail(OpenResult result, int error);

  Clock& clock_;
  FtdiFunctions ftdi_;
  BulkInStream stream_;
  ftdi_context* context_ = nullptr;  // made at the first open, kept until destruction
  bool deviceOpen_ = false;
  int lastError_ = 0;
  std::string serial_;
};
