// USB capture link: opens and configures the capture device through the D2XX driver library,
// reopens it when the read size changes, and serves its stream one byte at a time from a
// 256-byte read buffer refilled by one blocking read of `settings.bufsize` bytes.
#pragma once
#include <cstdint>

namespace DeviceLink {

int open();     // 0 when the device is open and configured, 1 on the first failing call
void reopen();  // after a change of read size; failures show at the next read
void close();

}  // namespace DeviceLink

namespace StreamReader {

constexpr int kReadBufferBytes = 256;

struct ReaderState {
  uint8_t readBuffer[kReadBufferBytes];
  uint32_t fillCount = 0;     // bytes the last read brought
  uint32_t readPosition = 0;  // next byte to serve; 0 means the buffer is used up
};

extern ReaderState readerState;

// One blocking read of the read size into the buffer: 0 when bytes arrived, 1 on failure.
int refill();

// The decoder's byte source: 0 with the next stream byte, or 1 when the device failed.
inline int nextByte(uint8_t& byte) {
  if (readerState.readPosition == 0 && refill() != 0) return 1;
  byte = readerState.readBuffer[readerState.readPosition];
  if (++readerState.readPosition == readerState.fillCount) readerState.readPosition = 0;
  return 0;
}

// The reader as a source for FrameDecoder::decodeFrame.
struct DeviceSource {
  int nextByte(uint8_t& byte) { return StreamReader::nextByte(byte); }
};

}  // namespace StreamReader
