// The stream a simulated device sends, frame by frame: the built-in test pattern, endlessly, or
// a stream file read whole, once or over and over. Frames are cut where the decoder's marker
// search and pairs end them, so a device that paces by frames paces as a viewer counts them;
// bytes before a marker go with the frame they lead to, and a cut-off last frame is a frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "test_pattern.h"

class FrameSource {
 public:
  // The test pattern from its first frame; false when memory is short.
  bool usePattern();
  // The stream file at `path`; false when it cannot be read or memory is short. An empty file
  // is a stream that has already ended.
  bool useFile(const char* path, bool loop);

  // The next frame, valid until the next call; false when a file played once has ended.
  bool nextFrame(const uint8_t*& bytes, size_t& size);

  // A sample of the stream to measure its mean frame size by: the whole file, or the pattern's
  // first two key-frame intervals. False when memory is short.
  bool measure(uint64_t& bytes, uint64_t& frames) const;
  size_t fileBytes() const { return fileSize_; }

 private:
  std::unique_ptr<uint8_t[]> file_;
  size_t fileSize_ = 0;
  size_t fileOffset_ = 0;  // where the next frame of the file starts
  bool loop_ = false;
  std::unique_ptr<TestPattern> pattern_;  // null while a file plays
  std::unique_ptr<uint8_t[]> patternFrame_;  // kMaxEncodedFrameBytes
};
