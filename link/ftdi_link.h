// The device link over libftdi1, for Linux without the vendor's D2XX library. libftdi1 is
// reached through a table of the few functions the link calls, so that tests can script them.
//   open:   ftdi_usb_find_all over FTDI's default product ids, then the first listed device
//           whose USB product string is "KESTRAVU" and that opens (devices whose strings
//           cannot be read or that cannot be opened are passed over); ftdi_set_bitmode(0,
//           reset); the read chunk size; the latency timer. A failure after the device opened
//           ends the sequence and leaves it open. Results:
//             no context, no list, no such device, none opens -> DeviceNotFound
//             ftdi_set_bitmode                                -> ResetModeFailed
//             ftdi_read_data_set_chunksize                    -> TransferSizeFailed
//             ftdi_set_latency_timer                          -> TimeoutsFailed
//   reopen: close, then open with the new size.
//   read:   ftdi_read_data until the count has arrived or the read time-out has passed.
// A context has no locks: one link, one thread.
#pragma once
#include <cstdint>

#include "clock.h"
#include "device_link.h"

struct ftdi_context;
struct ftdi_device_list;
struct libusb_device;

// The libftdi1 calls of the link, with libftdi1's own signatures and results (negative on
// failure), plus the context's packet size, which libftdi1 only offers as a field.
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
  int (*setReadChunkSize)(ftdi_context*, unsigned int bytes) = nullptr;
  int (*setLatencyTimer)(ftdi_context*, unsigned char milliseconds) = nullptr;
  int (*readData)(ftdi_context*, unsigned char* buffer, int size) = nullptr;
  unsigned int (*maxPacketSize)(ftdi_context*) = nullptr;  // of the open device's IN endpoint
};

// The table bound to the installed libftdi1.
const FtdiFunctions& libftdiFunctions();

class FtdiLink final : public DeviceLink {
 public:
  static constexpr char kProductString[] = "KESTRAVU";
  // The chip holds back a part-filled packet until its latency timer runs out (16 ms by
  // default, most of a frame); 1 ms is advised against by the chip's maker.
  static constexpr unsigned char kLatencyTimerMs = 2;
  // Used when the context does not know the endpoint's packet size: the full-speed one.
  static constexpr unsigned int kFullSpeedPacketBytes = 64;

  explicit FtdiLink(Clock& clock, const FtdiFunctions& functions = libftdiFunctions())
      : clock_(clock), ftdi_(functions) {}
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

 private:
  bool openFirstMatchingDevice();
  OpenResult fail(OpenResult result, int error);

  Clock& clock_;
  FtdiFunctions ftdi_;
  ftdi_context* context_ = nullptr;  // made at the first open, kept until destruction
  bool deviceOpen_ = false;
  int lastError_ = 0;
};
