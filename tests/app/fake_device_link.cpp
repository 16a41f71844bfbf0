#include "fake_device_link.h"

#include <algorithm>

#include "frame_decoder.h"
#include "usb_link.h"

namespace FakeDevice {

int openResult = 0;
int opens = 0, reopens = 0, closes = 0;
std::vector<uint8_t> stream;
size_t streamPosition = 0;

void reset() {
  openResult = 0;
  opens = reopens = closes = 0;
  stream.clear();
  streamPosition = 0;
  StreamReader::readerState.readPosition = 0;
  StreamReader::readerState.fillCount = 0;
}

namespace {

void appendRuns(uint8_t cell, int count) {
  for (; count > 0; count -= 256) {
    stream.push_back(cell);
    stream.push_back(static_cast<uint8_t>(count >= 256 ? 0 : count));  // 0 stands for 256
  }
}

}  // namespace

void appendKeyFrame(uint8_t firstLineCell, uint8_t otherCell) {
  stream.push_back(FrameDecoder::kKeyFrame);
  stream.push_back(FrameDecoder::kMarker);
  appendRuns(firstLineCell, FrameDecoder::kCellsPerLine);
  appendRuns(otherCell, FrameDecoder::kCellsPerFrame - FrameDecoder::kCellsPerLine);
}

}  // namespace FakeDevice

namespace DeviceLink {

int open() {
  ++FakeDevice::opens;
  return FakeDevice::openResult;
}
void reopen() { ++FakeDevice::reopens; }
void close() { ++FakeDevice::closes; }

}  // namespace DeviceLink

namespace StreamReader {

ReaderState readerState;

RefillResult readBlock() {
  size_t left = FakeDevice::stream.size() - FakeDevice::streamPosition;
  if (left == 0) return RefillResult::TimedOut;
  size_t count = std::min(left, static_cast<size_t>(settings.bufsize));
  std::copy_n(FakeDevice::stream.begin() + FakeDevice::streamPosition, count, readerState.readBuffer);
  FakeDevice::streamPosition += count;
  readerState.fillCount = static_cast<uint32_t>(count);
  return RefillResult::BytesArrived;
}

}  // namespace StreamReader
