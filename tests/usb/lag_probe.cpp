// How far the viewer's picture is behind the chip, sampled every 50 ms: the end of the last
// whole frame the chip has sent (its --sent file holds every byte sent, from the viewer's first
// opening on) against the bytes the viewer's decoder has taken (the last "decoded" line of its
// KESTRAVU_TRACE file), in milliseconds of the stream. A frame still on its way cannot be shown
// by anyone: a key frame takes several frame periods to send. Given a recording (.kvs) instead
// of a trace, its size is taken for the bytes decoded, for a viewer that records as it decodes. Part-way through, the viewer's main (GUI) thread alone is
// held up with ptrace, as a busy machine or a stuck compositor would, while its other threads
// run on. Prints one line per sample, then a summary line:
//   lag at 3 s: A ms, during the hold-up up to B ms, from 0.5 s after it: at most C ms, max D ms
// Usage: lag_probe SENT TRACE VIEWER_PID FIRST_OPENING_OFFSET BYTES_PER_SECOND HOLD_AT_S
//        HOLD_FOR_S SECONDS
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "frame_format.h"

namespace {

using Clock = std::chrono::steady_clock;

// Follows the trace as it grows: the bytes decoded of its newest "decoded" line.
class TraceFollower {
 public:
  explicit TraceFollower(const char* path) : path_(path) {}
  long long decoded() {
    if (std::string(path_).size() > 4 && std::string(path_).substr(std::string(path_).size() - 4) == ".kvs") {
      struct stat status = {};
      return stat(path_, &status) == 0 ? static_cast<long long>(status.st_size) : 0;
    }
    if (!trace_.is_open()) trace_.open(path_);
    std::string line;
    for (;;) {
      const std::streampos start = trace_.tellg();
      if (!std::getline(trace_, line) || trace_.eof()) {
        trace_.clear();
        if (start >= 0) trace_.seekg(start);  // a line still being written is read again
        return decoded_;
      }
      long long micros = 0, bytes = 0;
      if (std::sscanf(line.c_str(), "decoded %lld %lld", &micros, &bytes) == 2) decoded_ = bytes;
    }
  }

 private:
  const char* path_;
  std::ifstream trace_;
  long long decoded_ = 0;
};

// Follows the chip's sent bytes as they grow: where its last whole frame ends.
class SentFollower {
 public:
  SentFollower(const char* path, long long base) : path_(path), base_(base) {}
  long long lastFrameEnd() {
    if (!sent_.is_open()) sent_.open(path_, std::ios::binary);
    if (!sent_.is_open()) return 0;
    std::vector<char> bytes(1 << 16);
    for (long long got = 1; got > 0;) {
      sent_.clear();
      sent_.seekg(read_);
      sent_.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      got = sent_.gcount();
      for (long long i = 0; i < got; ++i, ++read_)
        if (read_ >= base_ && walk_.take(static_cast<uint8_t>(bytes[i]))) frameEnd_ = read_ + 1 - base_;
    }
    return frameEnd_;
  }

 private:
  const char* path_;
  long long base_;
  std::ifstream sent_;
  long long read_ = 0;
  long long frameEnd_ = 0;
  FrameFormat::FrameWalk walk_;
};

// Stops the thread `tid` alone (ptrace is per thread); false when it could not.
bool holdThread(pid_t tid) {
  if (ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) return false;
  int status = 0;
  return ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) == 0 && waitpid(tid, &status, __WALL) == tid;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fputs("usage: lag_probe SENT TRACE VIEWER_PID FIRST_OPENING_OFFSET BYTES_PER_SECOND HOLD_AT_S HOLD_FOR_S SECONDS\n",
               stderr);
    return 2;
  }
  TraceFollower trace(argv[2]);
  const pid_t viewer = static_cast<pid_t>(std::atoi(argv[3]));
  const long long base = std::atoll(argv[4]);
  SentFollower sent(argv[1], base);
  const double bytesPerMs = std::atof(argv[5]) / 1000;
  const double holdAt = std::atof(argv[6]), holdFor = std::atof(argv[7]), seconds = std::atof(argv[8]);
  const Clock::time_point start = Clock::now();
  double lagAt3 = -1, lagHeld = 0, lagAfter = 0, lagMax = 0;
  bool held = false, released = false;
  double releasedAt = 0;
  for (int sample = 0;; ++sample) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(50 * sample));
    const double at = std::chrono::duration<double>(Clock::now() - start).count();
    if (at > seconds) break;
    if (!held && at >= holdAt) {
      held = true;
      if (!holdThread(viewer)) std::fprintf(stderr, "lag_probe: cannot hold thread %d: %s\n", viewer, std::strerror(errno));
    }
    if (held && !released && at >= holdAt + holdFor) {
      released = true;
      releasedAt = at;
      ptrace(PTRACE_DETACH, viewer, nullptr, nullptr);
    }
    const long long decoded = trace.decoded();
    const long long frameEnd = sent.lastFrameEnd();
    const double lag = std::max(0.0, (frameEnd - decoded) / bytesPerMs);
    std::printf("%.2f s: frames sent to byte %lld, decoded %lld, behind %.1f ms%s\n", at, frameEnd, decoded, lag,
                held && !released ? " (held up)" : "");
    lagMax = std::max(lagMax, lag);
    if (lagAt3 < 0 && at >= 3) lagAt3 = lag;
    if (held && !released) lagHeld = std::max(lagHeld, lag);
    if (released && at >= releasedAt + 0.5) lagAfter = std::max(lagAfter, lag);
  }
  if (held && !released) ptrace(PTRACE_DETACH, viewer, nullptr, nullptr);
  std::printf("lag at 3 s: %.1f ms, during the hold-up up to %.1f ms, from 0.5 s after it: at most %.1f ms, max %.1f ms\n",
              lagAt3, lagHeld, lagAfter, lagMax);
  return 0;
}
