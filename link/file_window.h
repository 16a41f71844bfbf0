// Part of a file in memory, read with one system call when the bytes wanted are not in it: how
// stream files are read as they play, in little memory whatever their size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

class FileWindow {
 public:
  // Large enough that a frame takes few reads, small enough that playing costs no memory to
  // speak of.
  static constexpr size_t kBytes = 65536;

  bool allocate();
  // The bytes held from `offset` on, at most to `end`, read first if need be; 0 when the file
  // cannot be read there, with the system's reason in error() (EIO when the file ends before
  // `offset`: it was cut short since its size was taken).
  size_t bytesAt(int file, uint64_t offset, uint64_t end, const uint8_t*& bytes);
  int error() const { return error_; }
  // Forgets what it holds: the file changed under it.
  void drop() { count_ = 0; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  uint64_t start_ = 0;
  size_t count_ = 0;
  int error_ = 0;
};

// Opens `path` for reading without waiting on it (a FIFO or a device could block for good) and
// takes its size; only a regular file is read. 0 with the descriptor, ENOTSUP for a file that
// is not regular (the descriptor then closed), or the errno value of the failure.
int openRegularFile(const char* path, int& file, uint64_t& size);

// The size of the open file now; false when it cannot be taken.
bool currentFileSize(int file, uint64_t& size);
