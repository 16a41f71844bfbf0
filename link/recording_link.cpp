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
  if (sink_ == nullptr || result != ReadResult::BytesArrived || received > count) return result;
  if (const int error = sink_->write(buffer, received)) {
    fail(error);
    return result;
  }
  int syncError = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::swap(syncError, syncError_);
    // A push still under way is not asked for again: the next one covers these bytes too.
    if (syncError == 0 && !syncWanted_ && clock_.milliseconds() - lastSync_ > kSyncPeriodMs) {
      syncWanted_ = true;
      lastSync_ = clock_.milliseconds();
      asked_.notify_one();
    }
  }
  if (syncError != 0) fail(syncError);
  return result;
}

void RecordingTee::startRecording(std::unique_ptr<RecordingSink> sink) {
  stopRecording();
  failure_ = 0;
  sink_ = std::move(sink);
  lastSync_ = clock_.milliseconds();
  syncWanted_ = syncEnds_ = false;
  syncError_ = 0;
  syncing_ = std::thread(&RecordingTee::syncWhenAsked, this);
}

bool RecordingTee::stopRecording() {
  if (sink_ == nullptr) return true;
  endSyncing();
  if (syncError_ == 0) syncError_ = sink_->sync();
  if (syncError_ != 0) {
    fail(syncError_);
    return false;
  }
  sink_.reset();
  return true;
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

// Waits for a push under way: the sink must outlive it.
void RecordingTee::endSyncing() {
  if (!syncing_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    syncEnds_ = true;
    asked_.notify_one();
  }
  syncing_.join();
}

// On a failure (a full disk, a folder gone) the recording stops: the picture goes on, and the
// file keeps whatever reached it, a stream cut at some byte, which reads as far as it goes.
void RecordingTee::fail(int error) {
  endSyncing();
  failure_ = error;
  sink_.reset();
}
