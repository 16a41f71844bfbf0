#include "stream_file_link.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

StreamFileLink::~StreamFileLink() { reset(); }

void StreamFileLink::reset() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  loadError_ = 0;
  fileSize_ = 0;
  open_ = false;
  position_ = 0;
  servedSinceSizeCheck_ = 0;
  restartWalk();
  noWholeFrameLeft_ = false;
}

void StreamFileLink::restartWalk() {
  walk_ = FrameFormat::FrameWalk();
  walkPosition_ = 0;
  servable_ = 0;
  lastFrameEnd_ = 0;
  walkDone_ = false;
  playedSize_ = 0;
}

StreamFileLink::LoadResult StreamFileLink::load(const char* path) {
  reset();
  const int error = openRegularFile(path, file_, fileSize_);
  LoadResult result = LoadResult::Loaded;
  if (error == ENOTSUP) {
    result = LoadResult::NotRegular;
  } else if (error != 0) {
    loadError_ = error;
    result = error == ENOENT ? LoadResult::NotFound : LoadResult::Unreadable;
  } else if (!served_.allocate() || !walked_.allocate()) {
    loadError_ = ENOMEM;
    result = LoadResult::Unreadable;
  } else {
    while (lastFrameEnd_ == 0 && !walkDone_ && result == LoadResult::Loaded) {
      if (walkOn()) continue;
      loadError_ = walked_.error();
      result = LoadResult::Unreadable;
    }
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
      walkDone_ = true;
      playedSize_ = lastFrameEnd_;
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
  // A cut is looked for as playing goes on, not only when a read comes back empty: bytes of the
  // old file still held in memory would otherwise play on past the new end. Not at every read:
  // at small read sizes that would be tens of system calls a frame.
  if (servedSinceSizeCheck_ >= kSizeCheckBytes) {
    servedSinceSizeCheck_ = 0;
    followCut();
  }
  if (noWholeFrameLeft_) return ReadResult::ReadFailed;
  while (received < count) {
    const uint64_t end = walkDone_ ? playedSize_ : servable_;
    if (position_ >= end) {
      if (walkDone_)
        position_ = 0;
      else if (!walkOn() && !followCut())
        return ReadResult::ReadFailed;
      continue;
    }
    const uint8_t* bytes = nullptr;
    const size_t part = std::min<size_t>(served_.bytesAt(file_, position_, end, bytes), count - received);
    if (part == 0 && followCut()) continue;
    if (part == 0) return ReadResult::ReadFailed;
    std::memcpy(buffer + received, bytes, part);
    received += static_cast<uint32_t>(part);
    position_ += part;
    servedSinceSizeCheck_ += part;
  }
  return ReadResult::BytesArrived;
}

// After a read that failed: true when the file is shorter than it was and still holds a whole
// frame. Its frames are then walked again from its start, as it plays, up to its new end, where
// playing loops.
bool StreamFileLink::followCut() {
  uint64_t size = 0;
  if (noWholeFrameLeft_ || !currentFileSize(file_, size) || size >= fileSize_) return false;
  fileSize_ = size;
  served_.drop();
  walked_.drop();
  if (size < walkPosition_) restartWalk();
  while (lastFrameEnd_ == 0 && !walkDone_)
    if (!walkOn()) return false;
  noWholeFrameLeft_ = lastFrameEnd_ == 0;
  return !noWholeFrameLeft_;
}
