#include "recording_link.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

ReadResult RecordingLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  const ReadResult result = source_->read(buffer, count, received);
  // Only what the viewer takes: an overlong claim is refused by the reader, and is no stream.
  if (file_ == nullptr || result != ReadResult::BytesArrived || received > count) return result;
  if (write(buffer, received) && sinceSync_.hasExpired(kSyncPeriodMs)) sync();
  return result;
}

void RecordingLink::startRecording(std::unique_ptr<QFile> file) {
  stopRecording();
  failure_.clear();
  file_ = std::move(file);
  sinceSync_.start();
}

bool RecordingLink::stopRecording() {
  if (file_ == nullptr) return true;
  if (!sync()) return false;
  file_->close();
  file_.reset();
  return true;
}

// Straight to the file, with no buffer of the program's own in between: a byte that reached
// the program is in the file once the read returns. A write cut short (the disk filled up in
// it) reports no error; the next one does.
bool RecordingLink::write(const uint8_t* bytes, uint32_t count) {
  const int descriptor = file_->handle();
  for (uint32_t done = 0; done < count;) {
    const ssize_t part = ::write(descriptor, bytes + done, count - done);
    if (part > 0) {
      done += static_cast<uint32_t>(part);
    } else if (part == 0 || errno != EINTR) {
      fail(part == 0 ? ENOSPC : errno);
      return false;
    }
  }
  return true;
}

bool RecordingLink::sync() {
  int status = 0;
  do status = ::fdatasync(file_->handle());
  while (status != 0 && errno == EINTR);
  // A file system that cannot sync has nothing to push.
  if (status != 0 && errno != EINVAL) {
    fail(errno);
    return false;
  }
  sinceSync_.start();
  return true;
}

// On a failure (a full disk, a folder gone) the recording stops: the picture goes on, and the
// file keeps whatever reached it, a stream cut at some byte, which reads as far as it goes.
void RecordingLink::fail(int error) {
  failure_ =
      QStringLiteral("%1: %2").arg(file_->fileName(), QString::fromLocal8Bit(std::strerror(error)));
  file_->close();
  file_.reset();
}
