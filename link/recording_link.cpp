#include "recording_link.h"

#include <unistd.h>

#include <cerrno>

// Straight to the file, with no buffer of the program's own in between: a byte that reached
// the program is in the file once the read returns. A write cut short (the disk filled up in
// it) reports no error; the next one does.
int FileDescriptorSink::write(const uint8_t* bytes, uint32_t count) {
  for (uint32_t done = 0; done < count;) {
    const ssize_t part = ::write(descriptor_, bytes + done, count - done);
    if (part > 0)
      done += static_cast<uint32_t>(part);
    else if (part == 0 || errno != EINTR)
      return part == 0 ? ENOSPC : errno;
  }
  return 0;
}

int FileDescriptorSink::sync() {
  int status = 0;
  do status = ::fdatasync(descriptor_);
  while (status != 0 && errno == EINTR);
  // A file system that cannot sync has nothing to push.
  return status != 0 && errno != EINVAL ? errno : 0;
}

ReadResult RecordingTee::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  const ReadResult result = source_.read(buffer, count, received);
  // Only what the viewer takes: an overlong claim is refused by the reader, and is no stream.
  if (result != ReadResult::BytesArrived || received > count) return result;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_) return result;
  int error = sink_->write(buffer, received);
  if (error == 0) std::swap(error, syncError_);
  // On a failure (a full disk, a folder gone) the recording stops: the picture goes on, and the
  // file keeps whatever reached it, a stream cut at some byte, which reads as far as it goes.
  if (error != 0) {
    failure_ = error;
    recording_ = false;
  } else if (!syncWanted_ && clock_.milliseconds() - lastSync_ > kSyncPeriodMs) {
    // A push still under way is not asked for again: the next one covers these bytes too.
    syncWanted_ = true;
    lastSync_ = clock_.milliseconds();
    asked_.notify_one();
  }
  return result;
}

void RecordingTee::startRecording(std::unique_ptr<RecordingSink> sink) {
  stopRecording();
  const std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
  recording_ = true;
  failure_ = syncError_ = 0;
  syncWanted_ = syncEnds_ = false;
  lastSync_ = clock_.milliseconds();
  syncing_ = std::thread(&RecordingTee::syncWhenAsked, this);
}

// Waits for a push under way: the sink must outlive it.
bool RecordingTee::stopRecording() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (sink_ == nullptr) return true;
    recording_ = false;
    syncEnds_ = true;
    asked_.notify_one();
  }
  syncing_.join();
  const std::lock_guard<std::mutex> lock(mutex_);
  if (failure_ == 0) failure_ = syncError_;
  if (failure_ == 0) failure_ = sink_->sync();
  sink_.reset();
  return failure_ == 0;
}

bool RecordingTee::isRecording() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return recording_;
}

int RecordingTee::failure() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void RecordingTee::syncWhenAsked() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    asked_.wait(lock, [this] { return syncWanted_ || syncEnds_; });
    if (syncEnds_) return;
    lock.unlock();
    const int error = sink_->sync();
    lock.lock();
    syncWanted_ = false;
    if (syncError_ == 0) syncError_ = error;
  }
}
