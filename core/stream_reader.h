// Serves the capture device's stream one byte at a time from a 256-byte read buffer, refilled
// by one blocking read of the read size through the device link whenever it is used up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "device_link.h"
#include "settings.h"

class StreamReader {
 public:
  static constexpr int kReadBufferBytes = kMaxReadSize;

  explicit StreamReader(DeviceLink& link) : link_(link) {}

  // Bytes asked for in each read from now on; a size outside 1 ... 256 becomes 32. Bytes left
  // from reads of the old size are served first.
  void setReadSize(int32_t readSize) { readSize_ = static_cast<uint32_t>(sanitizedReadSize(readSize)); }
  uint32_t readSize() const { return readSize_; }

  // The decoder's byte source: 0 with the next stream byte, or 1 when the device failed.
  int nextByte(uint8_t& byte) {
    if (readPosition_ == 0 && refill() != ReadResult::BytesArrived) return 1;
    byte = readBuffer_[readPosition_];
    if (++readPosition_ == fillCount_) readPosition_ = 0;
    return 0;
  }

  // The unread rest of the read buffer, which the decoder may use without a call per byte.
  size_t unread(const uint8_t*& bytes) const {
    bytes = readBuffer_ + readPosition_;
    return readPosition_ == 0 ? 0 : fillCount_ - readPosition_;
  }
  void consume(size_t count) {
    readPosition_ += static_cast<uint32_t>(count);
    if (readPosition_ == fillCount_) readPosition_ = 0;
  }

  // One blocking read of the read size into the buffer, with its outcome.
  ReadResult refill();
  ReadResult lastRefill() const { return lastRefill_; }

  // A light handle on the reader for FrameDecoder::decodeFrame, which copies its source.
  struct Source {
    StreamReader* reader;
    int nextByte(uint8_t& byte) { return reader->nextByte(byte); }
    size_t unread(const uint8_t*& bytes) const { return reader->unread(bytes); }
    void consume(size_t count) { reader->consume(count); }
  };

 private:
  DeviceLink& link_;
  uint32_t readSize_ = kDefaultReadSize;
  uint8_t readBuffer_[kReadBufferBytes] = {};
  uint32_t fillCount_ = 0;     // bytes the last read brought
  uint32_t readPosition_ = 0;  // next byte to serve; 0 means the buffer is used up
  ReadResult lastRefill_ = ReadResult::BytesArrived;
};
