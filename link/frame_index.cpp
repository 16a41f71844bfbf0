#include "frame_index.h"

#include <algorithm>

void FrameIndex::walk(const uint8_t* bytes, size_t count) {
  for (size_t at = 0; at < count;) {
    DecoderCallWalk::Step step = DecoderCallWalk::Step::Inside;
    at += walk_.takeUntilCallEnds(bytes + at, count - at, step);
    if (step == DecoderCallWalk::Step::Inside) break;
    const uint64_t end = walked_ + at;
    if (step == DecoderCallWalk::Step::FrameComplete) {
      if (walk_.keyFrame() && (starts_.empty() || frames_ - starts_.back().frame >= kMinFramesBetweenStarts))
        starts_.push_back({callStart_, lastFrameEnd_, frames_, callCarry_});
      ++frames_;
      lastFrameEnd_ = end;
    }
    callStart_ = end;
    callCarry_ = walk_.carry();
  }
  walked_ += count;
}

void FrameIndex::cutAt(uint64_t size) {
  if (size >= walked_) return;
  while (!starts_.empty() && starts_.back().offset >= size) starts_.pop_back();
  // The last start point's frame may have ended past the cut: walked again, it comes back if not.
  StartPoint from = {0, 0, 0, 0};
  if (!starts_.empty()) {
    from = starts_.back();
    starts_.pop_back();
  }
  walk_ = DecoderCallWalk::startingFrom(from.carry);
  walked_ = callStart_ = from.offset;
  callCarry_ = from.carry;
  frames_ = from.frame;
  lastFrameEnd_ = from.previousFrameEnd;
  complete_ = false;
}

const FrameIndex::StartPoint* FrameIndex::startFor(int64_t frame) const {
  auto after = std::upper_bound(starts_.begin(), starts_.end(), frame,
                                [](int64_t wanted, const StartPoint& start) { return wanted < start.frame; });
  return after == starts_.begin() ? nullptr : &*(after - 1);
}
