#include "stream_file_player.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

StreamFilePlayer::~StreamFilePlayer() { reset(); }

void StreamFilePlayer::reset() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  loadError_ = 0;
  readError_ = 0;
  fileSize_ = 0;
  shown_ = -1;
  index_ = FrameIndex();
  cursor_ = {-1, &decoded_, 0, 0};
}

StreamFilePlayer::LoadResult StreamFilePlayer::load(const char* path) {
  reset();
  const int error = openRegularFile(path, file_, fileSize_);
  LoadResult result = LoadResult::Loaded;
  if (error == ENOTSUP) {
    result = LoadResult::NotRegular;
  } else if (error != 0) {
    loadError_ = error;
    result = error == ENOENT ? LoadResult::NotFound : LoadResult::Unreadable;
  } else if (!walked_.allocate() || !decoded_.allocate()) {
    loadError_ = ENOMEM;
    result = LoadResult::Unreadable;
  } else if (!findFrames(1)) {
    loadError_ = readError_;
    result = LoadResult::Unreadable;
  } else if (index_.frames() == 0) {
    result = LoadResult::NoWholeFrame;
  }
  if (result != LoadResult::Loaded) {
    const int kept = loadError_;
    reset();
    loadError_ = kept;
  }
  cursor_ = {file_, &decoded_, 0, fileSize_};
  return result;
}

bool StreamFilePlayer::hasFrame(int64_t frame) {
  return frame >= 0 && findFrames(std::min(frame, kLastFrame) + 1) && index_.frames() > frame;
}

// Walks on until `count` frames are found or the file's end is reached; false when a read
// failed, the file perhaps cut short.
bool StreamFilePlayer::findFrames(int64_t count) {
  while (index_.frames() < count && !index_.complete()) {
    if (index_.walked() == fileSize_) {
      index_.finish();
      break;
    }
    const uint8_t* bytes = nullptr;
    const size_t size = walked_.bytesAt(file_, index_.walked(), fileSize_, bytes);
    if (size == 0) {
      readError_ = walked_.error();
      return false;
    }
    index_.walk(bytes, size);
  }
  return true;
}

// After a read that failed: true when the file is shorter than it was, and its frames are
// then found again up to its new end.
bool StreamFilePlayer::followCut() {
  uint64_t size = 0;
  if (!currentFileSize(file_, size) || size >= fileSize_) return false;
  fileSize_ = size;
  cursor_.end = size;
  index_.cutAt(size);
  walked_.drop();
  decoded_.drop();
  return true;
}

StreamFilePlayer::Result StreamFilePlayer::show(int64_t frame, bool wrap, PictureMode mode) {
  if (file_ < 0) return Result::NoWholeFrame;
  // A cut is seen at once, not only when a read fails: a total that was found before it would
  // otherwise hold until then. The file's size only ever shrinks here, so following cuts ends.
  followCut();
  for (;;) {
    switch (tryShow(frame, wrap, mode)) {
      case Outcome::Done:
        return Result::Shown;
      case Outcome::NoFrames:
        return Result::NoWholeFrame;
      case Outcome::Unreadable:
        if (!followCut()) return Result::ReadFailed;
    }
  }
}

StreamFilePlayer::Outcome StreamFilePlayer::tryShow(int64_t frame, bool wrap, PictureMode mode) {
  int64_t target = std::clamp<int64_t>(frame, 0, kLastFrame);
  if (!findFrames(target + 1)) return Outcome::Unreadable;
  if (index_.frames() == 0) return Outcome::NoFrames;
  if (target >= index_.frames()) target = wrap ? 0 : index_.frames() - 1;
  if (target == shown_) return Outcome::Done;
  const FrameIndex::StartPoint* start = index_.startFor(target);
  const int64_t startFrame = start != nullptr ? start->frame : 0;
  // Going on from the frame shown is as exact, and cheaper, when no key frame lies between.
  int64_t nextFrame = shown_ + 1;
  if (shown_ < startFrame || shown_ > target) {
    startDecodingAt(start);
    nextFrame = startFrame;
  }
  Source source{&cursor_};
  // The frames on the way are not shown: they are decoded at the normal scale in palette mode,
  // which draws only the cells a delta frame changes, two pixels each. The frame shown then
  // writes every cell in Screen4, and in palette mode at the Wide scale it draws over a
  // picture drawn again from the cells.
  const PictureMode onTheWay{};
  bool drawnAgain = nextFrame == target || mode.screen4 || !mode.wide;
  while (nextFrame <= target) {
    if (nextFrame == target && !drawnAgain) {
      decoder_.redraw(picture_, mode);
      drawnAgain = true;
    }
    const FrameDecoder::Result result =
        decoder_.decodeFrame(source, picture_, nextFrame == target ? mode : onTheWay, clock_);
    if (result == FrameDecoder::Result::SourceFailed) {
      shown_ = -1;
      readError_ = decoded_.error();
      return Outcome::Unreadable;
    }
    if (result == FrameDecoder::Result::FrameComplete) ++nextFrame;
  }
  shown_ = target;
  return Outcome::Done;
}

// A key frame sets every cell and pixel; before the first one, frames are decoded from cleared
// cells and picture, as from the file's start.
void StreamFilePlayer::startDecodingAt(const FrameIndex::StartPoint* start) {
  if (start != nullptr) {
    cursor_.position = start->offset;
    decoder_.restartSearch(start->carry);
    return;
  }
  cursor_.position = 0;
  decoder_.reset();
  picture_.clear();
}
