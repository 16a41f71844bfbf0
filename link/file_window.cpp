#include "file_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

bool FileWindow::allocate() {
  bytes_.reset(new (std::nothrow) uint8_t[kBytes]);
  start_ = 0;
  count_ = 0;
  return bytes_ != nullptr;
}

size_t FileWindow::bytesAt(int file, uint64_t offset, uint64_t end, const uint8_t*& bytes) {
  if (offset >= end) return 0;
  if (offset < start_ || offset >= start_ + count_) {
    start_ = offset;
    count_ = 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(kBytes, end - offset));
    ssize_t got = 0;
    do {
      got = pread(file, bytes_.get(), wanted, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      error_ = got < 0 ? errno : EIO;
      return 0;
    }
    count_ = static_cast<size_t>(got);
  }
  bytes = bytes_.get() + (offset - start_);
  return static_cast<size_t>(std::min(start_ + count_, end) - offset);
}

int openRegularFile(const char* path, int& file, uint64_t& size) {
  file = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status = {};
  if (file < 0 || fstat(file, &status) != 0) {
    const int error = errno;
    if (file >= 0) ::close(file);
    file = -1;
    return error;
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(file);
    file = -1;
    return ENOTSUP;
  }
  size = static_cast<uint64_t>(status.st_size);
  return 0;
}

bool currentFileSize(int file, uint64_t& size) {
  struct stat status = {};
  if (fstat(file, &status) != 0) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}
