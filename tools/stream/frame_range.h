// A slice of a stream's frames chosen by number (`--from N --to M`), as `decode` and `video`
// export it: the frames are found and decoded as the viewer's player finds and decodes them,
// each picture exactly what decoding the stream from its start gives.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "frame_buffer.h"

struct FrameRange {
  static constexpr int64_t kMaxFrameNumber = 1000000000000;  // far beyond any recording
  int64_t first = 0;
  int64_t last = -1;  // -1: to the stream's last frame
  bool given = false;
};

// A frame number, 0 ... kMaxFrameNumber, written in decimal digits alone.
bool parseFrameNumber(const char* text, int64_t& number);

// 0 when the stream file at `path` holds the range, or -1 with the reason in `error`: the
// frames are found, not decoded.
int checkRange(const char* path, const FrameRange& range, std::string& error);

// Decodes frames range.first ... range.last of the stream file at `path` in `mode` and hands
// each picture to `usePicture(frame, picture)`; a status from it ends the walk. Returns 0, that
// status, or -1 with the reason in `error` (a range the stream does not hold, a file that
// cannot be read). `frames` counts the pictures handed on.
int forEachPictureInRange(const char* path, PictureMode mode, const FrameRange& range,
                          const std::function<int(int64_t, const FrameBuffer&)>& usePicture, int64_t& frames,
                          std::string& error);
