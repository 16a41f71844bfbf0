// The seam between the viewer and the capture device: whatever delivers the device's stream
// (the vendor's D2XX library, libftdi1, the simulated device, a stream file) implements this.
// The backends are in link/.
#pragma once
#include <cstdint>

// How an open ended; every failure has its own value.
enum class OpenResult {
  Opened,
  LibraryMissing,      // the driver library could not be loaded
  FunctionMissing,     // the driver library lacks one of the functions the link calls
  DeviceNotFound,      // no "KESTRAVU" device, or it is in use or cannot be opened
  ResetModeFailed,     // the chip could not be put in its plain mode (the device stays open)
  TransferSizeFailed,  // the USB transfer size could not be set (the device stays open)
  TimeoutsFailed,      // the time-outs could not be set (the device stays open)
  LatencyTimerFailed,  // the chip's latency timer could not be set (the device stays open)
  StreamFailed,        // the USB transfers of the stream could not be queued (the device stays open)
};

// How a read ended; every failure has its own value.
enum class ReadResult {
  BytesArrived,
  NotOpen,     // no device is open (the open or reopen failed): no read is made
  ReadFailed,  // the driver reported an error, as when the device is unplugged
  TimedOut,    // nothing arrived within the read time-out
  Overlong,    // the driver claimed more bytes than were asked for
  NothingWaiting,  // a link that never waits has no byte to give now: no failure
};

class DeviceLink {
 public:
  static constexpr uint32_t kReadTimeoutMs = 3000;  // a read returns within this, with what arrived

  virtual ~DeviceLink() = default;

  // Opens and configures the device for reads of `readSize` bytes.
  virtual OpenResult open(uint32_t readSize) = 0;
  // After a change of read size: closes, opens again and applies the new size. Failures are
  // not reported here; they show at the next read.
  virtual void reopen(uint32_t readSize) = 0;
  virtual void close() = 0;
  // Waits until `count` bytes have arrived or the read time-out has passed; stores how many
  // arrived in `received`, at most `count`.
  virtual ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) = 0;
  // For links that note when frames arrive: the clock when the last frame whose end a read has
  // handed over arrived, so that the frame rate is the stream's even for frames decoded late.
  virtual bool lastFrameArrival(uint32_t& milliseconds) const {
    (void)milliseconds;
    return false;
  }
};
