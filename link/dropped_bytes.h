// Bytes that a bounded buffer between the device and its reader drops when it is full, as the
// chip's own buffer drops them, so that what it holds stays one unbroken piece of the stream up
// to the gap. They are counted in all and reported on stderr once per episode: an episode ends
// when a piece of the stream fits whole again, or when the stream stops. The buffer's lock
// guards the count; the report is made after the lock is let go.
#pragma once
#include <cstdint>
#include <cstdio>

class DroppedBytes {
 public:
  // After a piece of `length` bytes of which the first `kept` fitted.
  void count(uint64_t kept, uint64_t length) {
    total_ += length - kept;
    inEpisode_ += length - kept;
    if (kept < length || inEpisode_ == 0) return;
    ended_ += inEpisode_;
    inEpisode_ = 0;
  }
  // The bytes of the episodes that ended and were not reported yet; once the stream stopped,
  // with the episode that was going on.
  uint64_t takeUnreported(bool stopped) {
    if (stopped) {
      ended_ += inEpisode_;
      inEpisode_ = 0;
    }
    const uint64_t bytes = ended_;
    ended_ = 0;
    return bytes;
  }
  uint64_t total() const { return total_; }

  static void report(uint64_t bytes) {
    if (bytes == 0) return;
    std::fprintf(stderr,
                 "kestravu: the device's stream came faster than it was read; %llu bytes were dropped\n",
                 static_cast<unsigned long long>(bytes));
  }

 private:
  uint64_t total_ = 0;
  uint64_t inEpisode_ = 0;  // in the episode still going on
  uint64_t ended_ = 0;      // in episodes that ended, not yet reported
};
