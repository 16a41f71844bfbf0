// The device link over libftdi1, for Linux without the vendor's D2XX library. libftdi1 is
// reached through a table of the few functions the link calls, and libusb (for the stream) through
// another, so that tests can script them.
//   open:   ftdi_usb_find_all over FTDI's default product ids, then the first listed device
//           whose USB product string is "KESTRAVU" and that opens (devices whose strings
//           cannot be read or that cannot be opened are passed over); ftdi_set_bitmode(0,
//           reset); the latency timer; then the bulk IN stream starts (BulkInStream). A failure
//           after the device opened ends the sequence and leaves it open. Results:
//             no context, no list, no such device, none opens -> DeviceNotFound
//             ftdi_set_bitmode                                -> ResetModeFailed
//             ftdi_set_latency_timer                          -> TimeoutsFailed
//             queueing the stream's transfers                 -> TransferSizeFailed
//           The read size only says how much each read asks for: the USB transfers are the
//           stream's own, sized for the bus rather than for the viewer's reads.
//   reopen: nothing while the stream flows (the read size does not concern it); otherwise
//           stops the stream and closes, then opens again. Bytes the stream had buffered are
//           kept and served first.
//   close:  stops the stream, closes the device and drops what was buffered.
//   read:   takes from the stream's buffer until the count has arrived or the read time-out
//           has passed. A failed transfer (unplugged) fails the read after the bytes that came
//           before it.
// A libftdi1 context has no locks: it is used on the link's owner's thread only, never while
// the stream's thread runs.
#pragma once
#include <cstdint>

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
};
