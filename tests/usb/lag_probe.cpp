// How far the viewer's picture is behind the chip, sampled every 50 ms: the chip's count of
// stream bytes sent (the size of its --sent file, from the viewer's first opening on) against
// the bytes the viewer's decoder has taken (the last "decoded" line of its KESTRAVU_TRACE file),
// in milliseconds of the stream. Part-way through, the viewer's main (GUI) thread alone is
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

namespace {

using Clock = std::chrono::steady_clock;

long long fileSize(const char* path) {
  struct stat status = {};
  return stat(path, &status) == 0 ? static_cast<long long>(status.st_size) : 0;
}

// Follows the trace as it grows: the bytes decoded of its newest "decoded" line.
class TraceFollower {
 public:
  explicit TraceFollower(const char* path) : path_(path) {}
  long long decoded() {
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
  const char* sent = argv[1];
  TraceFollower trace(argv[2]);
  const pid_t viewer = static_cast<pid_t>(std::atoi(argv[3]));
  const long long base = std::atoll(argv[4]);
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
    const double lag = (fileSize(sent) - base - decoded) / bytesPerMs;
    std::printf("%.2f s: sent %lld, decoded %lld, behind %.1f ms%s\n", at, fileSize(sent) - base, decoded, lag,
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
