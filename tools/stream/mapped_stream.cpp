#include "mapped_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command_line.h"

MappedStream::~MappedStream() {
  if (data_ != nullptr) munmap(data_, size_);
}

int MappedStream::open(const char* path) {
  const int file = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return fail("cannot open stream '%s': %s", path, std::strerror(errno));
  struct stat status;
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(file);
    return fail("cannot read stream '%s': not a regular file", path);
  }
  size_ = static_cast<size_t>(status.st_size);
  void* mapped = size_ == 0 ? nullptr : mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file, 0);
  const int error = errno;
  ::close(file);
  if (mapped == MAP_FAILED) {
    size_ = 0;
    return fail("cannot read stream '%s': %s", path, std::strerror(error));
  }
  data_ = static_cast<uint8_t*>(mapped);
  if (data_ != nullptr) madvise(data_, size_, MADV_SEQUENTIAL);
  return 0;
}

void MappedStream::release(size_t position) {
  const size_t end = position / kReleaseStep * kReleaseStep;
  if (end <= released_) return;
  madvise(data_ + released_, end - released_, MADV_DONTNEED);
  released_ = end;
}
