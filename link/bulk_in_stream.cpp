#include "bulk_in_stream.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// A read that waits rechecks the caller's clock this often, so that the read time-out is
// counted on that clock, as every other link counts it.
constexpr uint32_t kWaitSliceMs = 50;
// How long the event thread waits in libusb before it looks whether anything is still queued.
constexpr long kEventWaitUs = 100000;
// After a failed wait for events, so that a persistent failure does not spin the thread.
constexpr auto kEventRetryPause = std::chrono::milliseconds(10);

int errorOf(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_STALL:
      return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW:
      return LIBUSB_ERROR_OVERFLOW;
    default:
      return LIBUSB_ERROR_IO;
  }
}

}  // namespace

const UsbFunctions& libusbFunctions() {
  static const UsbFunctions functions = [] {
    UsbFunctions table;
    table.allocTransfer = libusb_alloc_transfer;
    table.freeTransfer = libusb_free_transfer;
    table.submitTransfer = libusb_submit_transfer;
    table.cancelTransfer = libusb_cancel_transfer;
    table.handleEvents = libusb_handle_events_timeout_completed;
    return table;
  }();
  return functions;
}

BulkInStream::BulkInStream(const UsbFunctions& usb, uint32_t bufferBytes)
    : usb_(usb), buffer_(bufferBytes != 0 ? bufferBytes : kBufferBytes) {
  for (Slot& slot : slots_) slot.stream = this;
}

// A transfer that cannot be queued ends the start: the ones queued before it are cancelled, and
// the stop gathers them.
int BulkInStream::start(const UsbEndpoint& endpoint) {
  stop();
  context_ = endpoint.context;
  packetBytes_ = endpoint.packetBytes != 0 ? endpoint.packetBytes : kFullSpeedPacketBytes;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    giveUp_ = false;
    eventsEnded_ = false;
    error_ = 0;
  }
  int error = 0;
  for (Slot& slot : slots_) {
    slot.transfer = usb_.allocTransfer(0);
    if (slot.transfer == nullptr) {
      error = LIBUSB_ERROR_NO_MEM;
      break;
    }
    slot.bytes.assign(std::size_t{packetBytes_} * kPacketsPerTransfer, 0);
    libusb_fill_bulk_transfer(slot.transfer, endpoint.device, endpoint.address, slot.bytes.data(),
                              static_cast<int>(slot.bytes.size()), onTransferDone, &slot, kTransferTimeoutMs);
    const std::lock_guard<std::mutex> lock(mutex_);
    error = usb_.submitTransfer(slot.transfer);
    if (error < 0) break;
    slot.queued = true;
    slot.cancelled = false;
    ++queued_;
  }
  events_ = std::thread(&BulkInStream::handleEventsUntilNoneQueued, this);
  started_ = true;
  if (error < 0) {
    stop();
    return error;
  }
  return 0;
}

void BulkInStream::stop() {
  if (!started_) return;
  cancelQueued();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool allBack = arrived_.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                           [this] { return queued_ == 0 || eventsEnded_; });
    if (!allBack) giveUp_ = true;
  }
  events_.join();
  abandonQueued();
  freeTransfers();
  started_ = false;
  uint64_t unreported = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    unreported = dropped_.takeUnreported(true);
  }
  DroppedBytes::report(unreported);
}

void BulkInStream::discardBuffered() {
  const std::lock_guard<std::mutex> lock(mutex_);
  head_ = size_ = 0;
}

// A transfer whose completion is already on its way cannot be cancelled any more; it comes
// back completed and is not queued again.
void BulkInStream::cancelQueued() {
  const std::lock_guard<std::mutex> lock(mutex_);
  cancelQueuedLocked();
}

void BulkInStream::cancelQueuedLocked() {
  stopping_ = true;
  for (Slot& slot : slots_) {
    if (!slot.queued || slot.cancelled) continue;
    slot.cancelled = true;
    usb_.cancelTransfer(slot.transfer);
  }
}

// The first failure is the one reported; the other transfers are cancelled rather than left to
// fail one by one, and nothing is queued again.
void BulkInStream::failLocked(int error) {
  if (error_ == 0) error_ = error;
  cancelQueuedLocked();
}

// The completions, cancellations included, are delivered here, on the stream's own thread; it
// ends when no transfer is left queued, or when told to give up on them, or when libusb's event
// handling has kept failing for kEventFailureLimitMs (the stream has failed by then).
void BulkInStream::handleEventsUntilNoneQueued() {
  using std::chrono::steady_clock;
  steady_clock::time_point failingSince{};
  bool failing = false;
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (queued_ == 0 || giveUp_) break;
    }
    timeval wait = {0, kEventWaitUs};
    const int result = usb_.handleEvents(context_, &wait, nullptr);
    if (result == 0 || result == LIBUSB_ERROR_INTERRUPTED) {
      failing = false;
      continue;
    }
    if (!failing) failingSince = steady_clock::now();
    failing = true;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      failLocked(result);
    }
    arrived_.notify_all();
    if (steady_clock::now() - failingSince >= std::chrono::milliseconds(kEventFailureLimitMs)) break;
    std::this_thread::sleep_for(kEventRetryPause);
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    eventsEnded_ = true;
  }
  arrived_.notify_all();
}

// Transfers that never came back still belong to libusb: their memory must outlive them, and
// whoever handles the context's events next frees it if they complete then.
namespace {
struct AbandonedTransfer {
  const UsbFunctions* usb;
  std::vector<unsigned char> bytes;
};
}  // namespace

void BulkInStream::onAbandonedTransferDone(libusb_transfer* transfer) {
  auto* abandoned = static_cast<AbandonedTransfer*>(transfer->user_data);
  abandoned->usb->freeTransfer(transfer);
  delete abandoned;
}

// Called with the event thread ended, so no callback can run meanwhile.
void BulkInStream::abandonQueued() {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (Slot& slot : slots_) {
    if (!slot.queued) continue;
    slot.transfer->user_data = new AbandonedTransfer{&usb_, std::move(slot.bytes)};
    slot.transfer->callback = onAbandonedTransferDone;
    slot.transfer = nullptr;
    slot.bytes = {};
    slot.queued = false;
    --queued_;
  }
}

void BulkInStream::freeTransfers() {
  for (Slot& slot : slots_) {
    if (slot.transfer != nullptr) usb_.freeTransfer(slot.transfer);
    slot.transfer = nullptr;
    slot.bytes = {};
  }
}

void BulkInStream::onTransferDone(libusb_transfer* transfer) {
  Slot& slot = *static_cast<Slot*>(transfer->user_data);
  slot.stream->finish(slot);
}

// Whatever a transfer brought is kept, however it ended: a cancelled or timed-out transfer may
// hold bytes. A timed-out one is queued again (the read time-out reports a silent chip); a failed
// one (unplugged, stalled) ends the stream.
void BulkInStream::finish(Slot& slot) {
  libusb_transfer& transfer = *slot.transfer;
  uint64_t episodeEnded = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    storePayload(transfer.buffer, transfer.actual_length);
    episodeEnded = dropped_.takeUnreported(false);
    const bool served = transfer.status == LIBUSB_TRANSFER_COMPLETED || transfer.status == LIBUSB_TRANSFER_TIMED_OUT;
    int error = 0;
    if (served && !stopping_)
      error = usb_.submitTransfer(&transfer);
    else if (!served && transfer.status != LIBUSB_TRANSFER_CANCELLED)
      error = errorOf(transfer.status);
    if (!served || stopping_ || error < 0) {
      slot.queued = false;
      --queued_;
    }
    if (error < 0) failLocked(error);
  }
  arrived_.notify_all();
  DroppedBytes::report(episodeEnded);
}

// A transfer of several packets has the chip's status bytes at the start of each packet; the
// last packet may be short.
void BulkInStream::storePayload(const unsigned char* bytes, int length) {
  for (int offset = 0; offset < length; offset += static_cast<int>(packetBytes_)) {
    const int packet = std::min(length - offset, static_cast<int>(packetBytes_));
    if (packet > static_cast<int>(kStatusBytes))
      push(bytes + offset + kStatusBytes, static_cast<uint32_t>(packet) - kStatusBytes);
  }
}

void BulkInStream::push(const unsigned char* bytes, uint32_t length) {
  const uint32_t capacity = static_cast<uint32_t>(buffer_.size());
  const uint32_t kept = std::min(length, capacity - size_);
  const uint32_t tail = (head_ + size_) % capacity;
  const uint32_t first = std::min(kept, capacity - tail);
  std::memcpy(buffer_.data() + tail, bytes, first);
  std::memcpy(buffer_.data(), bytes + first, kept - first);
  size_ += kept;
  dropped_.count(kept, length);
}

uint32_t BulkInStream::take(uint8_t* buffer, uint32_t count) {
  const uint32_t capacity = static_cast<uint32_t>(buffer_.size());
  const uint32_t taken = std::min(count, size_);
  const uint32_t first = std::min(taken, capacity - head_);
  std::memcpy(buffer, buffer_.data() + head_, first);
  std::memcpy(buffer + first, buffer_.data(), taken - first);
  head_ = (head_ + taken) % capacity;
  size_ -= taken;
  return taken;
}

ReadResult BulkInStream::read(uint8_t* buffer, uint32_t count, uint32_t& received, Clock& clock, int& error) {
  received = 0;
  error = 0;
  const uint32_t start = clock.milliseconds();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    received += take(buffer + received, count - received);
    if (received == count || error_ != 0 || !started_) break;
    const uint32_t waited = clock.milliseconds() - start;
    if (waited >= DeviceLink::kReadTimeoutMs) break;
    arrived_.wait_for(lock, std::chrono::milliseconds(std::min(DeviceLink::kReadTimeoutMs - waited, kWaitSliceMs)));
  }
  if (received > 0) return ReadResult::BytesArrived;
  if (error_ == 0) return ReadResult::TimedOut;
  error = error_;
  return ReadResult::ReadFailed;
}

bool BulkInStream::isFlowing() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return started_ && error_ == 0;
}

uint32_t BulkInStream::bufferedBytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return size_;
}

uint64_t BulkInStream::droppedBytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return dropped_.total();
}
