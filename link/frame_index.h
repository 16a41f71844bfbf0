// Where the frames of a stream file are, found as the file is read: how many there are, where
// the last whole one ends, and the places a decoder can start from to reach any frame exactly.
//
// Frames are numbered as the decoder finds them reading the file from its start, one frame per
// call with a clock that stands still (as the stream tool decodes): a call also gives up after
// its byte bound, and a frame it was decoding then is lost, so the walk below follows the
// calls, not the format alone. A key frame sets every cell and every pixel whatever came
// before, so decoding from the start of the call that completes it gives the same cells and
// picture as decoding from the file's start; only the offsets of such calls are kept, and not
// every one of them where key frames come close together, so that memory stays small for a
// recording of any length.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_decoder.h"

// The decoder's calls over a stream, walked byte by byte: where each call ends, whether it
// completed a frame, and what the next call's marker search starts from.
class DecoderCallWalk {
 public:
  enum class Step {
    Inside,         // the call goes on
    FrameComplete,  // the byte completed a frame; the next byte starts a new call
    GaveUp,         // the call reached its byte bound without a frame; the next byte starts a new call
  };

  inline Step take(uint8_t byte);
  // Takes bytes until a call ends or they run out, as take() one by one would but faster; returns
  // how many it took, and in `step` how the call ended (Inside when the bytes ran out first).
  inline size_t takeUntilCallEnds(const uint8_t* bytes, size_t count, Step& step);
  // At the start of a call: the byte its marker search starts from (the decoder's carry).
  uint8_t carry() const { return previous_; }
  // After FrameComplete: whether the frame's marker was a key frame's.
  bool keyFrame() const { return markerKind_ == FrameFormat::kKeyFrame; }
  // A walk that starts at the start of a call whose search starts from `carry`.
  static DecoderCallWalk startingFrom(uint8_t carry);

 private:
  Step endCall(Step step, uint8_t carry) {
    searching_ = true;
    previous_ = carry;
    taken_ = 0;
    return step;
  }

  bool searching_ = true;
  uint8_t previous_ = 0;
  uint32_t taken_ = 0;  // bytes the call has taken
  bool pairStarted_ = false;
  uint8_t value_ = 0;
  uint8_t markerKind_ = 0;
  size_t cells_ = 0;
};

class FrameIndex {
 public:
  // A call a decoder can start at: it completes frame `frame`, a key frame.
  struct StartPoint {
    uint64_t offset;             // the call's first byte
    uint64_t previousFrameEnd;   // the end of frame `frame` - 1, or 0
    int64_t frame;
    uint8_t carry;               // the byte the call's marker search starts from
  };
  // Key frames closer than this to the last one kept are not kept: a file of nothing but key
  // frames would otherwise cost memory in proportion to its length.
  static constexpr int64_t kMinFramesBetweenStarts = 30;

  // Walks `count` bytes, those that follow the bytes walked so far.
  void walk(const uint8_t* bytes, size_t count);
  // The file ends where the walk is: a frame it was in is cut off and not counted.
  void finish() { complete_ = true; }
  // Forgets all from `size` on (the file was cut there) and goes back to walk again from the
  // last start point before it.
  void cutAt(uint64_t size);

  uint64_t walked() const { return walked_; }
  bool complete() const { return complete_; }
  // Whole frames found so far (all of them once complete()).
  int64_t frames() const { return frames_; }
  // The end of the last whole frame found, 0 when none.
  uint64_t lastFrameEnd() const { return lastFrameEnd_; }
  // The last start point at or before `frame`; nullptr when there is none, and decoding has to
  // start at the file's start, from cleared cells.
  const StartPoint* startFor(int64_t frame) const;
  size_t startPoints() const { return starts_.size(); }

 private:
  DecoderCallWalk walk_;
  std::vector<StartPoint> starts_;
  uint64_t walked_ = 0;
  uint64_t callStart_ = 0;
  uint8_t callCarry_ = 0;
  int64_t frames_ = 0;
  uint64_t lastFrameEnd_ = 0;
  bool complete_ = false;
};

// As decodeFrame takes bytes: the marker search gives up at the bound and hands its last byte on;
// a frame is given up when fewer than a pair's two bytes are left of the bound.
DecoderCallWalk::Step DecoderCallWalk::take(uint8_t byte) {
  using namespace FrameFormat;
  constexpr uint32_t kBound = FrameDecoding::kMaxBytesPerCall;
  ++taken_;
  if (searching_) {
    if (!isFrameMarker(previous_, byte)) {
      previous_ = byte;
      return taken_ < kBound ? Step::Inside : endCall(Step::GaveUp, byte);
    }
    searching_ = false;
    markerKind_ = previous_;
    cells_ = 0;
    pairStarted_ = false;
  } else if (!pairStarted_) {
    value_ = byte;
    pairStarted_ = true;
    return Step::Inside;
  } else {
    pairStarted_ = false;
    if (isRestartPair(value_, byte)) {
      cells_ = 0;
    } else {
      cells_ += runLength(byte);
      if (cells_ >= static_cast<size_t>(kCellsPerFrame)) return endCall(Step::FrameComplete, 0);
    }
  }
  return kBound - taken_ >= 2 ? Step::Inside : endCall(Step::GaveUp, 0);
}

inline DecoderCallWalk DecoderCallWalk::startingFrom(uint8_t carry) {
  DecoderCallWalk walk;
  walk.previous_ = carry;
  return walk;
}

// The marker search skips to the next 0x81 within the call's bound, and a frame's pairs are
// taken two bytes at a time: a recording of a gigabyte is walked in a few seconds.
size_t DecoderCallWalk::takeUntilCallEnds(const uint8_t* bytes, size_t count, Step& step) {
  using namespace FrameFormat;
  constexpr uint32_t kBound = FrameDecoding::kMaxBytesPerCall;
  size_t at = 0;
  step = Step::Inside;
  while (at < count && step == Step::Inside) {
    if (searching_) {
      const size_t budget = std::min<size_t>(count - at, kBound - taken_);
      const auto* marker = static_cast<const uint8_t*>(std::memchr(bytes + at, kMarker, budget));
      const size_t skipped = marker != nullptr ? static_cast<size_t>(marker - (bytes + at)) : budget;
      if (skipped > 0) {
        previous_ = bytes[at + skipped - 1];
        taken_ += static_cast<uint32_t>(skipped);
        at += skipped;
        if (taken_ == kBound) step = endCall(Step::GaveUp, previous_);
        continue;
      }
    } else if (!pairStarted_) {
      // At a pair's start at least two bytes of the bound are left: the walk ends calls otherwise.
      const size_t pairs = std::min<size_t>(count - at, kBound - taken_) / 2;
      const uint8_t* pair = bytes + at;
      const uint8_t* const end = pair + 2 * pairs;
      size_t cells = cells_;
      bool complete = false;
      for (; pair != end && !complete; pair += 2) {
        if (isRestartPair(pair[0], pair[1])) {
          cells = 0;
          continue;
        }
        cells += ((pair[1] - 1u) & 0xFFu) + 1;  // a count byte of 0 stands for 256
        complete = cells >= static_cast<size_t>(kCellsPerFrame);
      }
      cells_ = cells;
      taken_ += static_cast<uint32_t>(pair - (bytes + at));
      at = static_cast<size_t>(pair - bytes);
      if (complete)
        step = endCall(Step::FrameComplete, 0);
      else if (kBound - taken_ < 2)
        step = endCall(Step::GaveUp, 0);
      if (at == count || step != Step::Inside) continue;
    }
    step = take(bytes[at++]);
  }
  return at;
}
