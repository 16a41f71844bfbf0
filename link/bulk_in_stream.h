// Keeps a USB bulk IN endpoint of an FTDI chip drained: several libusb transfers stay queued at
// all times, on a thread of the stream's own, and their payload waits in a bounded buffer
// until a read takes it. The chip holds only a few hundred bytes (an FT232R 256, about 2.3 ms
// of the capture stream); whatever arrives while no transfer is queued is lost at the chip,
// so reading only when the viewer asks would tear the picture.
//
// Figures (full speed: 64-byte packets with 62 bytes of payload; the stream ~110 KB/s, a packet
// every ~0.56 ms): a transfer of kPacketsPerTransfer packets completes within ~4.5 ms, or at the
// chip's 2 ms latency timer; kTransfers queued keep the chip drained through ~140 ms of the event
// thread held up (seven, ~30 ms, are too few on a busy machine); kBufferBytes holds ~9 s of stream.
// Bytes that find the buffer full are dropped, counted and reported on stderr once per episode.
#pragma once
#include <sys/time.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "clock.h"
#include "device_link.h"
#include "dropped_bytes.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

// The libusb calls of the stream, with libusb's own signatures and results.
struct UsbFunctions {
  libusb_transfer* (*allocTransfer)(int isoPackets) = nullptr;
  void (*freeTransfer)(libusb_transfer*) = nullptr;
  int (*submitTransfer)(libusb_transfer*) = nullptr;
  int (*cancelTransfer)(libusb_transfer*) = nullptr;
  int (*handleEvents)(libusb_context*, timeval* timeout, int* completed) = nullptr;
};

// The table bound to the installed libusb.
const UsbFunctions& libusbFunctions();

// Where the chip's stream comes from: an open device and its bulk IN endpoint.
struct UsbEndpoint {
  libusb_context* context = nullptr;
  libusb_device_handle* device = nullptr;
  unsigned char address = 0;
  unsigned int packetBytes = 0;  // the endpoint's packet size; 0 when unknown (full speed assumed)
};

class BulkInStream {
 public:
  static constexpr int kTransfers = 32;
  static constexpr unsigned int kPacketsPerTransfer = 8;
  static constexpr unsigned int kFullSpeedPacketBytes = 64;
  static constexpr uint32_t kBufferBytes = 1u << 20;
  // The chip starts every packet with its two modem-status bytes.
  static constexpr unsigned int kStatusBytes = 2;
  // An idle chip answers every latency period, so a transfer that brings nothing for this long
  // has a chip that no longer answers; it comes back with what it holds and is queued again.
  static constexpr unsigned int kTransferTimeoutMs = 1000;
  // How long stop() waits for its cancelled transfers, beyond their time-out. Transfers still out
  // then are left to libusb, which frees them if they ever come back.
  static constexpr unsigned int kStopWaitMs = kTransferTimeoutMs + 500;
  // An event loop that keeps failing for this long is given up, with the stream failed.
  static constexpr unsigned int kEventFailureLimitMs = 1000;

  // A buffer of 0 bytes gets the default size.
  explicit BulkInStream(const UsbFunctions& usb, uint32_t bufferBytes = kBufferBytes);
  BulkInStream(const BulkInStream&) = delete;
  BulkInStream& operator=(const BulkInStream&) = delete;
  ~BulkInStream() { stop(); }

  // Queues the transfers and starts the thread. Returns 0, or libusb's error when a transfer
  // could not be queued; then nothing is left queued and no thread runs.
  int start(const UsbEndpoint& endpoint);
  // Cancels the transfers and returns once every one has come back, or kStopWaitMs have passed,
  // and the thread has ended. What the buffer holds, and what the cancelled transfers brought,
  // stays there for the next reads.
  void stop();
  void discardBuffered();
  bool isStarted() const { return started_; }
  // Started, and no transfer has failed.
  bool isFlowing() const;

  // Takes bytes from the buffer until `count` have arrived, or the transfers failed and the
  // buffer is empty, or DeviceLink::kReadTimeoutMs have passed on `clock`. Bytes that came
  // before a failure are handed out first; the failure is reported by the read after them,
  // with libusb's error code in `error`.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received, Clock& clock, int& error);
  uint32_t bufferedBytes() const;
  uint64_t droppedBytes() const;

 private:
  struct Slot {
    BulkInStream* stream = nullptr;
    libusb_transfer* transfer = nullptr;
    std::vector<unsigned char> bytes;
    bool queued = false;
    bool cancelled = false;  // asked once: a second cancel of the same transfer would be noise
  };

  static void onTransferDone(libusb_transfer* transfer);
  static void onAbandonedTransferDone(libusb_transfer* transfer);
  void finish(Slot& slot);
  void storePayload(const unsigned char* bytes, int length);
  void push(const unsigned char* bytes, uint32_t length);
  uint32_t take(uint8_t* buffer, uint32_t count);
  void cancelQueued();
  void cancelQueuedLocked();
  void failLocked(int error);
  void handleEventsUntilNoneQueued();
  void abandonQueued();
  void freeTransfers();

  const UsbFunctions& usb_;
  libusb_context* context_ = nullptr;
  unsigned int packetBytes_ = kFullSpeedPacketBytes;
  std::array<Slot, kTransfers> slots_;
  std::thread events_;
  bool started_ = false;  // touched by the owner's thread only

  mutable std::mutex mutex_;  // guards everything below, and the slots' `queued`
  std::condition_variable arrived_;
  int queued_ = 0;
  bool stopping_ = false;
  bool giveUp_ = false;       // the event thread is to end with transfers still out
  bool eventsEnded_ = false;  // the event thread has ended
  int error_ = 0;  // libusb's code for the first failed transfer
  std::vector<uint8_t> buffer_;
  uint32_t head_ = 0;  // where the oldest buffered byte is
  uint32_t size_ = 0;
  DroppedBytes dropped_;
};
