// A stream file mapped into memory rather than read into it: a recording may be larger than
// memory. The pages the decoder has left behind are given back as it goes (they stay in the
// page cache), so that the tool's resident memory stays small whatever the file's size.
#pragma once
#include <cstddef>
#include <cstdint>

class MappedStream {
 public:
  MappedStream() = default;
  MappedStream(const MappedStream&) = delete;
  MappedStream& operator=(const MappedStream&) = delete;
  ~MappedStream();

  // Opened without waiting: a FIFO or a device could block for good. 0 or kBadInput.
  int open(const char* path);

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // The pages before `position` are not needed again.
  void release(size_t position);

 private:
  static constexpr size_t kReleaseStep = 8 << 20;  // a whole number of pages
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t released_ = 0;
};
