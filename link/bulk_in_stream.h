// Keeps a USB bulk IN endpoint of an FTDI chip drained: several libusb transfers stay queued at
// all times, on a thread of the stream's own, and their payload waits in a bounded buffer
// until a read takes it. The chip holds only a few hundred bytes (an FT232R 256, about 2.3 ms
// of the capture stream); whatever arrives while no transfer is queued is lost at the chip,
// so reading only when the viewer asks would tear the picture.
//
// Figures, for a full-speed chip (64-byte packets, 62 bytes of payload) and a stream of about
// 110 KB/s, which fills a packet every ~0.56 ms:
//   - a transfer is kPacketsPerTransfer packets (512 bytes): it completes after ~4.5 ms of a
//     steady stream, or at the first short packet, which the chip sends when its latency timer
//     (2 ms) runs out; so no byte waits more than ~5 ms for the viewer, a third of a frame;
//   - kTransfers transfers are queued: while one completes and is queued again, the other
//     31 (~140 ms of stream) keep the chip drained, so the event thread can be kept from
//     running that long without a byte lost (a busy machine holds a thread up for tens of
//     milliseconds now and then; seven transfers, ~30 ms, lost bytes that way); more
//     transfers cost no latency, and ~220 completions a second cost next to nothing;
//   - at high speed (512-byte packets) a transfer is 4 KiB, and at this rate every packet is
//     a short one that ends its transfer when the latency timer runs out.
// The buffer (kBufferBytes by default) holds ~9 s of stream, for a viewer that was held up;
// bytes that find it full are dropped, counted and reported on stderr once per episode.
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

  explicit BulkInStream(const UsbFunctions& usb, uint32_t bufferBytes = kBufferBytes);
  BulkInStream(const BulkInStream&) = delete;
  BulkInStream& operator=(const BulkInStream&) = delete;
  ~BulkInStream() { stop(); }

  // Queues the transfers and starts the thread. Returns 0, or libusb's error when a transfer
  // could not be queued; then nothing is left queued and no thread runs.
  int start(const UsbEndpoint& endpoint);
  // Cancels the transfers and returns once every one has come back and the thread has ended.
  // What the buffer holds stays there for the next reads.
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
  };

  static void onTransferDone(libusb_transfer* transfer);
  void finish(Slot& slot);
  void takePayload(const unsigned char* bytes, int length);
  void push(const unsigned char* bytes, uint32_t length);
  uint32_t take(uint8_t* buffer, uint32_t count);
  void cancelQueued();
  void handleEventsUntilNoneQueued();
  void freeTransfers();
  void reportDropped(uint64_t bytes);

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
  int error_ = 0;  // libusb's code for the first failed transfer
  std::vector<uint8_t> buffer_;
  uint32_t head_ = 0;  // where the oldest buffered byte is
  uint32_t size_ = 0;
  uint64_t dropped_ = 0;
  uint64_t droppedInEpisode_ = 0;  // in the episode still going on
  uint64_t endedEpisode_ = 0;      // dropped in an episode that has ended, not yet reported
};
