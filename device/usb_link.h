// USB capture link: opens and configures the capture device through the D2XX driver library,
// reopens it when the read size changes, and serves its stream one byte at a time from a
// 256-byte read buffer refilled by one blocking read of `settings.bufsize` bytes. The driver's
// functions are declared in d2xx.h; on Windows they come from "FTD2XX.dll" by ordinal.
#pragma once
#include <cstddef>
#include <cstdint>

#include "d2xx.h"

namespace DeviceLink {

constexpr char kDeviceDescription[] = "KESTRAVU";
constexpr uint32_t kReadTimeoutMs = 3000;  // a read returns within this, with what arrived
constexpr uint32_t kWriteTimeoutMs = 3000;

// How the last open ended; every failure has its own value.
enum class OpenResult {
  Opened,
  NeverOpened,         // no open has been tried yet
  LibraryMissing,      // the driver library could not be loaded
  FunctionMissing,     // the driver library lacks one of the six functions
  DeviceNotFound,      // FT_OpenEx failed: no "KESTRAVU" device, or it is in use
  ResetModeFailed,     // FT_SetBitMode failed (the device stays open)
  TransferSizeFailed,  // FT_SetUSBParameters failed (the device stays open)
  TimeoutsFailed,      // FT_SetTimeouts failed (the device stays open)
};

struct LinkState {
  FT_HANDLE handle = nullptr;  // the open device, null while closed
  OpenResult lastOpen = OpenResult::NeverOpened;
  FT_STATUS lastOpenStatus = FT_OK;  // the status of the call that ended the last open
};

extern LinkState linkState;

int open();     // 0 when the device is open and configured, 1 on the first failing call
void reopen();  // after a change of read size; failures show at the next read
void close();

}  // namespace DeviceLink

namespace StreamReader {

constexpr int kReadBufferBytes = 256;

// How the last refill ended; every failure has its own value.
enum class RefillResult {
  BytesArrived,
  NotOpen,    // no device handle (the open or reopen failed): no read is made
  ReadFailed, // FT_Read returned a status other than FT_OK
  TimedOut,   // FT_OK with no bytes: nothing arrived within the read time-out
  Overlong,   // the driver claimed more bytes than were asked for
};

struct ReaderState {
  uint8_t readBuffer[kReadBufferBytes];
  uint32_t fillCount = 0;     // bytes the last read brought
  uint32_t readPosition = 0;  // next byte to serve; 0 means the buffer is used up
  RefillResult lastRefill = RefillResult::BytesArrived;
  FT_STATUS lastReadStatus = FT_OK;
};

extern ReaderState readerState;

// One blocking read of the read size into the buffer, with its outcome.
RefillResult readBlock();

// One blocking read of the read size into the buffer: 0 when bytes arrived, 1 on failure.
inline int refill() { return readBlock() == RefillResult::BytesArrived ? 0 : 1; }

// The decoder's byte source: 0 with the next stream byte, or 1 when the device failed.
inline int nextByte(uint8_t& byte) {
  if (readerState.readPosition == 0 && refill() != 0) return 1;
  byte = readerState.readBuffer[readerState.readPosition];
  if (++readerState.readPosition == readerState.fillCount) readerState.readPosition = 0;
  return 0;
}

// The reader as a source for FrameDecoder::decodeFrame. Besides nextByte it lends the decoder
// the unread rest of the read buffer, so that run pairs need no call per byte.
struct DeviceSource {
  int nextByte(uint8_t& byte) { return StreamReader::nextByte(byte); }
  size_t lend(const uint8_t*& bytes) const {
    bytes = readerState.readBuffer + readerState.readPosition;
    return readerState.readPosition == 0 ? 0 : readerState.fillCount - readerState.readPosition;
  }
  void take(size_t count) {
    readerState.readPosition += static_cast<uint32_t>(count);
    if (readerState.readPosition == readerState.fillCount) readerState.readPosition = 0;
  }
};

}  // namespace StreamReader
