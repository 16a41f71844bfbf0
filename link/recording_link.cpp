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

ReadResult RecordingLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  const ReadResult result = source_->read(buffer, count, received);
  // Only what the viewer takes: an overlong claim is refused by the reader, and is no stream.
  if (sink_ == nullptr || result != ReadResult::BytesArrived || received > count) return result;
  if (const int error = sink_->write(buffer, received)) {
    fail(error);
  } else if (clock_.milliseconds() - lastSync_ > kSyncPeriodMs) {
    sync();
  }
  return result;
}

void RecordingLink::playFile(std::unique_ptr<DeviceLink> file, Viewer& viewer, int32_t readSize) {
  stopRecording();
  viewer.closeDevice();
  source_ = file.get();
  viewer.openDevice(readSize);
  file_ = std::move(file);  // after the switch: the file that played before goes here
  viewer.restartStream();
}

OpenResult RecordingLink::playDevice(Viewer& viewer, int32_t readSize) {
  if (file_ == nullptr) return OpenResult::Opened;  // it plays already
  source_ = &device_;
  const OpenResult opened = viewer.openDevice(readSize);
  if (opened != OpenResult::Opened) {
    viewer.closeDevice();
    source_ = file_.get();
    return opened;
  }
  file_.reset();
  viewer.restartStream();
  return opened;
}

void RecordingLink::startRecording(std::unique_ptr<RecordingSink> sink) {
  stopRecording();
  failure_ = 0;
  sink_ = std::move(sink);
  lastSync_ = clock_.milliseconds();
}

bool RecordingLink::stopRecording() {
  if (sink_ == nullptr) return true;
  if (!sync()) return false;
  sink_.reset();
  return true;
}

bool RecordingLink::sync() {
  if (const int error = sink_->sync()) {
    fail(error);
    return false;
  }
  lastSync_ = clock_.milliseconds();
  return true;
}

// On a failure (a full disk, a folder gone) the recording stops: the picture goes on, and the
// file keeps whatever reached it, a stream cut at some byte, which reads as far as it goes.
void RecordingLink::fail(int error) {
  failure_ = error;
  sink_.reset();
}
