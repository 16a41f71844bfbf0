#include "frame_source.h"

#include <cstdio>
#include <new>

#include "frame_format.h"

bool FrameSource::usePattern() {
  file_.reset();
  fileSize_ = 0;
  pattern_.reset(new (std::nothrow) TestPattern());
  patternFrame_.reset(new (std::nothrow) uint8_t[kMaxEncodedFrameBytes]);
  return pattern_ != nullptr && patternFrame_ != nullptr;
}

bool FrameSource::useFile(const char* path, bool loop) {
  pattern_.reset();
  file_.reset();
  fileSize_ = 0;
  fileOffset_ = 0;
  loop_ = loop;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  const long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  std::rewind(file);
  bool complete = false;
  if (size >= 0) {
    file_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    complete = file_ != nullptr &&
               std::fread(file_.get(), 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
  }
  std::fclose(file);
  if (!complete) {
    file_.reset();
    return false;
  }
  fileSize_ = static_cast<size_t>(size);
  return true;
}

bool FrameSource::nextFrame(const uint8_t*& bytes, size_t& size) {
  if (pattern_ != nullptr) {
    size = nextPatternFrame(*pattern_, patternFrame_.get());
    bytes = patternFrame_.get();
    return true;
  }
  if (fileOffset_ == fileSize_ && loop_) fileOffset_ = 0;
  if (fileOffset_ == fileSize_) return false;
  const size_t end = FrameFormat::frameEnd(file_.get(), fileSize_, fileOffset_);
  bytes = file_.get() + fileOffset_;
  size = end - fileOffset_;
  fileOffset_ = end;
  return true;
}

bool FrameSource::measure(uint64_t& bytes, uint64_t& frames) const {
  bytes = 0;
  frames = 0;
  if (pattern_ == nullptr) {
    for (size_t offset = 0; offset < fileSize_; ++frames) offset = FrameFormat::frameEnd(file_.get(), fileSize_, offset);
    bytes = fileSize_;
    return true;
  }
  std::unique_ptr<TestPattern> sample(new (std::nothrow) TestPattern());
  std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[kMaxEncodedFrameBytes]);
  if (sample == nullptr || frame == nullptr) return false;
  for (; frames < 2 * kPatternKeyFrameInterval; ++frames) bytes += nextPatternFrame(*sample, frame.get());
  return true;
}
