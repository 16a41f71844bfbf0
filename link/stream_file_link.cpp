#include "stream_file_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

// Large enough that a frame takes few reads, small enough that playing costs no memory to
// speak of.
constexpr size_t kWindowBytes = 65536;

}  // namespace

bool StreamFileLink::Window::allocate() {
  bytes_.reset(new (std::nothrow) uint8_t[kWindowBytes]);
  start_ = 0, count_ = 0;
  return bytes_ != nullptr;
}

size_t StreamFileLink::Window::bytesAt(int file, uint64_t offset, uint64_t end, const uint8_t*& bytes) {
  if (offset < start_ || offset >= start_ + count_) {
    start_ = offset, count_ = 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(kWindowBytes, end - offset));
    ssize_t got = 0;
    do {
      got = pread(file, bytes_.get(), wanted, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      error_ = got < 0 ? errno : EIO;  // none at all: the file was cut short since it was opened
      return 0;
    }
    count_ = static_cast<size_t>(got);
  }
  bytes = bytes_.get() + (offset - start_);
  return static_cast<size_t>(std::min(start_ + count_, end) - offset);
}

StreamFileLink::~StreamFileLink() { reset(); }

void StreamFileLink::reset() {
  if (file_ >= 0) ::close(file_);
  file_ = -1, loadError_ = 0, fileSize_ = 0, open_ = false, position_ = 0;
  walk_ = FrameFormat::FrameWalk();
  walkPosition_ = 0, servable_ = 0, lastFrameEnd_ = 0, walkDone_ = false, playedSize_ = 0;
}

StreamFileLink::LoadResult StreamFileLink::load(const char* path) {
  reset();
  file_ = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status = {};
  LoadResult result = LoadResult::Loaded;
  if (file_ < 0 || fstat(file_, &status) != 0) {
    loadError_ = errno;
    result = loadError_ == ENOENT ? LoadResult::NotFound : LoadResult::Unreadable;
  } else if (!S_ISREG(status.st_mode)) {
    result = LoadResult::NotRegular;
  } else if (!served_.allocate() || !walked_.allocate()) {
    loadError_ = ENOMEM, result = LoadResult::Unreadable;
  } else {
    fileSize_ = static_cast<uint64_t>(status.st_size);
    while (lastFrameEnd_ == 0 && !walkDone_ && result == LoadResult::Loaded)
      if (!walkOn()) loadError_ = walked_.error(), result = LoadResult::Unreadable;
    if (result == LoadResult::Loaded && lastFrameEnd_ == 0) result = LoadResult::NoWholeFrame;
  }
  if (result != LoadResult::Loaded) {
    const int error = loadError_;
    reset();
    loadError_ = error;
  }
  return result;
}

// Walks on until more bytes may be served or the file's end is reached; false when the file
// cannot be read. A marker search's bytes may be served before its frame is known whole, all
// but a 0x01 as the last: served before a cut-off tail, it would turn a delta-frame marker at
// the file's start into a key-frame one.
bool StreamFileLink::walkOn() {
  const uint64_t servableBefore = servable_;
  while (servable_ == servableBefore) {
    if (walkPosition_ == fileSize_) {
      walkDone_ = true, playedSize_ = lastFrameEnd_;
      return true;
    }
    const uint8_t* bytes = nullptr;
    const size_t count = walked_.bytesAt(file_, walkPosition_, fileSize_, bytes);
    if (count == 0) return false;
    for (size_t i = 0; i < count; ++i) {
      if (walk_.take(bytes[i]))
        lastFrameEnd_ = servable_ = walkPosition_ + i + 1;
      else if (walk_.searching() && bytes[i] != FrameFormat::kKeyFrame)
        servable_ = walkPosition_ + i + 1;
    }
    walkPosition_ += count;
  }
  return true;
}

OpenResult StreamFileLink::open(uint32_t) {
  open_ = lastFrameEnd_ > 0;
  position_ = 0;
  return open_ ? OpenResult::Opened : OpenResult::DeviceNotFound;
}

ReadResult StreamFileLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  if (!open_) return ReadResult::NotOpen;
  while (received < count) {
    const uint64_t end = walkDone_ ? playedSize_ : servable_;
    if (position_ >= end) {
      if (walkDone_)
        position_ = 0;
      else if (!walkOn())
        return ReadResult::ReadFailed;
      continue;
    }
    const uint8_t* bytes = nullptr;
    const size_t part = std::min<size_t>(served_.bytesAt(file_, position_, end, bytes), count - received);
    if (part == 0) return ReadResult::ReadFailed;
    std::memcpy(buffer + received, bytes, part);
    received += static_cast<uint32_t>(part);
    position_ += part;
  }
  return ReadResult::BytesArrived;
}
