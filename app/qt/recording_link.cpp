#include "recording_link.h"

#include <algorithm>
#include <cstring>
#include <new>

ReadResult RecordingLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  const ReadResult result = source_->read(buffer, count, received);
  // Only what the viewer takes: an overlong claim is refused by the reader, and is no stream.
  if (file_ == nullptr || result != ReadResult::BytesArrived || received > count) return result;
  uint32_t done = 0;
  while (done < received) {
    const int part = std::min<int>(static_cast<int>(received - done), kKeptBytes - keptCount_);
    std::memcpy(kept_.get() + keptCount_, buffer + done, static_cast<size_t>(part));
    keptCount_ += part, done += static_cast<uint32_t>(part);
    if (keptCount_ == kKeptBytes && !writeKept()) break;
  }
  return result;
}

void RecordingLink::startRecording(std::unique_ptr<QFile> file) {
  stopRecording();
  failure_.clear();
  if (kept_ == nullptr) kept_.reset(new (std::nothrow) uint8_t[kKeptBytes]);
  if (kept_ == nullptr) {
    failure_ = QStringLiteral("%1: out of memory").arg(file->fileName());
    file->remove();
    return;
  }
  file_ = std::move(file);
}

bool RecordingLink::stopRecording() {
  if (file_ == nullptr) return true;
  const bool written = writeKept();
  if (file_ != nullptr) file_->close();
  file_.reset();
  return written;
}

// On a failure (a full disk, a folder gone) the recording stops: the picture goes on, and the
// file keeps whatever reached it, a stream cut at some byte, which reads as far as it goes.
bool RecordingLink::writeKept() {
  if (file_ == nullptr) return false;
  // A write cut short (the disk filled up in it) reports no error; the next one does.
  qint64 written = 0;
  for (qint64 part = 0; written < keptCount_; written += part) {
    part = file_->write(reinterpret_cast<const char*>(kept_.get()) + written, keptCount_ - written);
    if (part <= 0) break;
  }
  const bool complete = written == keptCount_;
  keptCount_ = 0;
  if (complete) return true;
  failure_ = QStringLiteral("%1: %2").arg(file_->fileName(), file_->errorString());
  file_->close();
  file_.reset();
  return false;
}
