#include "live_link.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "settings.h"

namespace {

int64_t nowMicros() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(now).count();
}

}  // namespace

LiveLink::LiveLink(DeviceLink& device, Clock& clock, uint32_t bufferBytes)
    : device_(device),
      clock_(clock),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      buffer_(bufferBytes),
      frameEnds_(bufferBytes / kMinFrameBytes + 2) {}

LiveLink::~LiveLink() {
  close();
  if (wake_ >= 0) ::close(wake_);
}

OpenResult LiveLink::open(uint32_t readSize) {
  close();
  const OpenResult result = device_.open(readSize);
  readSize_ = readSize;
  deviceOpen_ = result == OpenResult::Opened;
  if (deviceOpen_ && readingOn_) startReading();
  return result;
}

// A reopen that fails shows at the next read, as the device's own read would show it.
void LiveLink::reopen(uint32_t readSize) {
  stopReading();
  device_.reopen(readSize);
  readSize_ = readSize;
  deviceOpen_ = true;
  if (readingOn_) startReading();
}

void LiveLink::setReading(bool on) {
  readingOn_ = on;
  if (!on) stopReading();
  if (on && deviceOpen_ && !reading_.joinable()) startReading();
}

void LiveLink::close() {
  stopReading();
  device_.close();
  deviceOpen_ = false;
  const std::lock_guard<std::mutex> lock(mutex_);
  taken_ = arrived_ = servable_ = wokenAt_ = 0;
  walk_ = FrameFormat::FrameWalk();
  firstEnd_ = endCount_ = 0;
  frameHandedOver_ = false;
  failure_ = ReadResult::BytesArrived;
}

void LiveLink::startReading() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    failure_ = ReadResult::BytesArrived;
  }
  reading_ = std::thread(&LiveLink::readUntilStopped, this, readSize_);
}

void LiveLink::stopReading() {
  if (!reading_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  reading_.join();
  uint64_t unreported = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    unreported = dropped_.takeUnreported(true);
  }
  DroppedBytes::report(unreported);
}

// A read that brings nothing within the device's time-out is the silence that ends the
// program, as for a reader that blocks.
void LiveLink::readUntilStopped(uint32_t readSize) {
  uint8_t bytes[kMaxReadSize];
  const uint32_t count = std::min<uint32_t>(readSize, sizeof bytes);
  for (;;) {
    uint32_t received = 0;
    ReadResult result = device_.read(bytes, count, received);
    if (result == ReadResult::BytesArrived && received == 0) result = ReadResult::TimedOut;
    if (result == ReadResult::BytesArrived && received > count) result = ReadResult::Overlong;
    bool wake = false;
    uint64_t episodeEnded = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (result != ReadResult::BytesArrived) {
        failure_ = result;
        servable_ = arrived_;  // a frame cut short is decoded as far as it goes
        signalWake();
        return;
      }
      wake = push(bytes, received);
      episodeEnded = dropped_.takeUnreported(false);
    }
    if (wake) signalWake();
    DroppedBytes::report(episodeEnded);
  }
}

// Walks what fits; true when the reader should be woken. The last byte of a marker search is
// held back: it may be the first half of the marker that the next read completes.
bool LiveLink::push(const uint8_t* bytes, uint32_t length) {
  const uint64_t capacity = buffer_.size();
  const uint32_t kept = static_cast<uint32_t>(std::min<uint64_t>(length, capacity - (arrived_ - taken_)));
  bool frameEnded = false;
  for (uint32_t i = 0; i < kept; ++i) {
    buffer_[(arrived_ + i) % capacity] = bytes[i];
    if (walk_.take(bytes[i])) {
      servable_ = arrived_ + i + 1;
      frameEnds_[(firstEnd_ + endCount_) % frameEnds_.size()] = {servable_, clock_.milliseconds(), nowMicros()};
      endCount_ = std::min(endCount_ + 1, frameEnds_.size());
      frameEnded = true;
    } else if (walk_.searching()) {
      servable_ = arrived_ + i;
    }
  }
  arrived_ += kept;
  dropped_.count(kept, length);
  if (arrived_ - taken_ > capacity / 2) servable_ = arrived_;
  const bool wake = frameEnded || servable_ - wokenAt_ >= kSearchWakeBytes;
  if (wake) wokenAt_ = servable_;
  return wake;
}

ReadResult LiveLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t capacity = buffer_.size();
  received = static_cast<uint32_t>(std::min<uint64_t>(count, servable_ - taken_));
  const uint64_t at = taken_ % capacity;
  const uint64_t first = std::min<uint64_t>(received, capacity - at);
  std::memcpy(buffer, buffer_.data() + at, first);
  std::memcpy(buffer + first, buffer_.data(), received - first);
  taken_ += received;
  while (endCount_ > 0 && frameEnds_[firstEnd_].offset <= taken_) {
    lastFrameArrival_ = frameEnds_[firstEnd_].arrival;
    lastFrameArrivalMicros_ = frameEnds_[firstEnd_].arrivalMicros;
    frameHandedOver_ = true;
    firstEnd_ = (firstEnd_ + 1) % frameEnds_.size();
    --endCount_;
  }
  if (received > 0) return ReadResult::BytesArrived;
  if (failure_ != ReadResult::BytesArrived) return failure_;
  if (!deviceOpen_) return ReadResult::NotOpen;
  return ReadResult::NothingWaiting;
}

bool LiveLink::lastFrameArrival(uint32_t& milliseconds) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  milliseconds = lastFrameArrival_;
  return frameHandedOver_;
}

int64_t LiveLink::lastFrameArrivalMicros() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lastFrameArrivalMicros_;
}

void LiveLink::signalWake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

void LiveLink::clearWake() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(wake_, &count, sizeof count);
}

uint64_t LiveLink::droppedBytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return dropped_.total();
}

