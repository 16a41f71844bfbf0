#include "stream_file_link.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame_format.h"

namespace {

// The end of the last frame that the first `size` bytes of `data` hold whole, 0 when none.
// `data[size]` is a spare zero byte: a frame that runs into it was cut off by the file's end,
// while one that ends exactly at `size` is whole. Frames are walked as the decoder reads them.
size_t wholeFramesEnd(const uint8_t* data, size_t size) {
  size_t at = 0, wholeEnd = 0;
  while (at < size) {
    const size_t end = FrameFormat::frameEnd(data, size + 1, at);
    if (end > size) break;
    wholeEnd = at = end;
  }
  return wholeEnd;
}

// The whole file with a spare zero byte after it, and its size; null when it cannot be had.
std::unique_ptr<uint8_t[]> readWhole(const char* path, size_t& size) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  const long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  std::unique_ptr<uint8_t[]> bytes;
  if (end >= 0 && std::fseek(file, 0, SEEK_SET) == 0) {
    size = static_cast<size_t>(end);
    bytes.reset(new (std::nothrow) uint8_t[size + 1]);
    if (bytes != nullptr && std::fread(bytes.get(), 1, size, file) != size) bytes.reset();
    if (bytes != nullptr) bytes[size] = 0;
  }
  std::fclose(file);
  return bytes;
}

}  // namespace

StreamFileLink::LoadResult StreamFileLink::load(const char* path) {
  open_ = false, playedSize_ = 0, position_ = 0;
  size_t size = 0;
  bytes_ = readWhole(path, size);
  if (bytes_ == nullptr) return LoadResult::Unreadable;
  playedSize_ = wholeFramesEnd(bytes_.get(), size);
  if (playedSize_ == 0) {
    bytes_.reset();
    return LoadResult::NoWholeFrame;
  }
  return LoadResult::Loaded;
}

OpenResult StreamFileLink::open(uint32_t) {
  open_ = playedSize_ > 0;
  position_ = 0;
  return open_ ? OpenResult::Opened : OpenResult::DeviceNotFound;
}

ReadResult StreamFileLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  if (!open_) return ReadResult::NotOpen;
  while (received < count) {
    const size_t part = std::min<size_t>(count - received, playedSize_ - position_);
    std::memcpy(buffer + received, bytes_.get() + position_, part);
    received += static_cast<uint32_t>(part);
    position_ += part;
    if (position_ == playedSize_) position_ = 0;
  }
  return ReadResult::BytesArrived;
}
