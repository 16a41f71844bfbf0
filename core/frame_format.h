// The capture stream format, which the decoder reads and the encoder, the simulated device and
// the stream tool write or walk.
//
// A frame starts with the marker KIND 0x81 (KIND 0x00 delta, 0x01 key), then run pairs
// VALUE COUNT (COUNT 0 means 256) cover the 262 x 213 cells in raster order, runs crossing line
// ends. A key cell is VALUE; a delta cell is its previous value + VALUE (mod 256). The pair
// 0x01 0x81 inside a frame restarts it as a key frame; 0x00 0x81 is plain data.
#pragma once
#include <cstddef>
#include <cstdint>

namespace FrameFormat {

constexpr int kLines = 262;
constexpr int kCellsPerLine = 213;
constexpr int kCellsPerFrame = kLines * kCellsPerLine;  // 55,806
constexpr uint8_t kDeltaFrame = 0x00;
constexpr uint8_t kKeyFrame = 0x01;
constexpr uint8_t kMarker = 0x81;

// The marker search looks at two bytes in a row, not aligned to pairs: `previous` is 0 at the
// start of a search, so a 0x81 that comes first is a delta-frame marker.
constexpr bool isFrameMarker(uint8_t previous, uint8_t byte) {
  return byte == kMarker && previous <= kKeyFrame;
}

// Inside a frame the pair 0x01 0x81 is no data: it restarts the frame as a key frame. One 16-bit
// compare rather than two byte compares: the decoder's per-pair loop asks this for every pair.
constexpr bool isRestartPair(uint8_t value, uint8_t count) {
  return (value | count << 8) == (kKeyFrame | kMarker << 8);
}

// Cells covered by a pair's count byte.
constexpr size_t runLength(uint8_t count) { return count == 0 ? 256 : count; }

}  // namespace FrameFormat

namespace FrameFormat {

// Walks frames as the decoder reads them, one byte at a time, for readers that get the stream
// in pieces: the marker search, then pairs until the last cell is filled.
class FrameWalk {
 public:
  // Takes the next byte; true when it completes a frame, and the next byte starts a new search.
  bool take(uint8_t byte) {
    if (!inFrame_) {
      inFrame_ = isFrameMarker(previous_, byte);
      previous_ = inFrame_ ? 0 : byte;
      cells_ = 0;
      pairStarted_ = false;
      return false;
    }
    if (!pairStarted_) {
      value_ = byte;
      pairStarted_ = true;
      return false;
    }
    pairStarted_ = false;
    if (isRestartPair(value_, byte)) {
      cells_ = 0;
      return false;
    }
    cells_ += runLength(byte);
    if (cells_ < static_cast<size_t>(kCellsPerFrame)) return false;
    inFrame_ = false;
    return true;
  }
  // Still looking for a frame marker.
  bool searching() const { return !inFrame_; }

 private:
  bool inFrame_ = false;
  uint8_t previous_ = 0;  // the search's last byte
  bool pairStarted_ = false;
  uint8_t value_ = 0;
  size_t cells_ = 0;
};

// The end of the frame whose marker search starts at `start` in `data`: just after the pair
// that fills its last cell, or `size` when the data ends first. Bytes before the marker belong
// to the frame, as the decoder's marker search takes them with it.
inline size_t frameEnd(const uint8_t* data, size_t size, size_t start) {
  FrameWalk walk;
  for (size_t at = start; at < size;)
    if (walk.take(data[at++])) return at;
  return size;
}

}  // namespace FrameFormat
