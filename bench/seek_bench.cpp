// A stream file reviewed frame by frame, on a 1 GiB recording: the time of a 5 s jump (300
// frames) forward and back, of the first jump to the end (which walks the whole file) and of
// later ones, of one frame played on, and the peak memory. Figures are printed, with the page
// cache both emptied of the file (cold) and holding it (warm).
// Run: build/native/bench/seek_bench [FILE]  (FILE is made first when missing: the test pattern,
// ten seconds of it repeated, as a recording of about 2 h 40 min)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stream_file_player.h"
#include "test_pattern.h"

namespace {

constexpr uint64_t kFileBytes = uint64_t(1) << 30;
constexpr int64_t kJumpFrames = 300;
constexpr int kJumps = 40;

// Ten seconds of the pattern start with a key frame and end just before the next one, so that
// the block repeated is a stream as the device sends it.
bool makeRecording(const std::string& path) {
  std::vector<uint8_t> block, frame(kMaxEncodedFrameBytes);
  TestPattern pattern;
  for (uint32_t i = 0; i < 10 * kPatternKeyFrameInterval; ++i)
    block.insert(block.end(), frame.begin(), frame.begin() + long(nextPatternFrame(pattern, frame.data())));
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = true;
  for (uint64_t size = 0; written && size < kFileBytes; size += block.size())
    written = std::fwrite(block.data(), 1, block.size(), file) == block.size();
  return std::fclose(file) == 0 && written;
}

void forgetCachedPages(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY);
  if (file < 0) return;
  fdatasync(file);
  posix_fadvise(file, 0, 0, POSIX_FADV_DONTNEED);
  close(file);
}

long peakResidentKib() {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kib = -1;
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  if (status != nullptr) std::fclose(status);
  return kib;
}

// This process's processor time so far, user and system, in milliseconds: on a machine shared
// with other work the wall clock overstates what a walk costs.
double processorMilliseconds() {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  const double seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
  return seconds * 1e3 + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

template <class Action>
double milliseconds(Action action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Rig {
  FrameDecoder decoder;
  FrameBuffer picture;
  StreamFilePlayer player{decoder, picture};
  bool load(const std::string& path) {
    return decoder.allocate() && picture.allocate() &&
           player.load(path.c_str()) == StreamFilePlayer::LoadResult::Loaded;
  }
};

void check(StreamFilePlayer::Result result) {
  if (result == StreamFilePlayer::Result::Shown) return;
  std::fprintf(stderr, "seek_bench: the file cannot be played\n");
  std::exit(1);
}

// Mean times of 5 s jumps from frames spread over the file, forward then back.
void measureJumps(Rig& rig, int64_t frames, const char* cache, PictureMode mode = PictureMode{}) {
  double forward = 0, back = 0;
  for (int jump = 0; jump < kJumps; ++jump) {
    const int64_t from = (frames - 2 * kJumpFrames) / kJumps * jump + 7 * jump + kJumpFrames;
    check(rig.player.goTo(from, mode));
    forward += milliseconds([&] { check(rig.player.goTo(from + kJumpFrames, mode)); });
    back += milliseconds([&] { check(rig.player.goTo(from, mode)); });
  }
  std::printf("5 s jump (%ld frames), %s: forward %.2f ms, back %.2f ms (mean of %d)\n", long(kJumpFrames),
              cache, forward / kJumps, back / kJumps, kJumps);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/tmp/kestravu-seek-bench.kvs";
  if (access(path.c_str(), R_OK) != 0) {
    std::printf("making %s ...\n", path.c_str());
    if (!makeRecording(path)) {
      std::perror(path.c_str());
      return 1;
    }
  }
  forgetCachedPages(path);
  Rig rig;
  if (!rig.load(path)) {
    std::fprintf(stderr, "seek_bench: cannot load %s\n", path.c_str());
    return 1;
  }
  const double processorBefore = processorMilliseconds();
  const double firstEnd = milliseconds([&] { check(rig.player.goToEnd(PictureMode{})); });
  const double firstEndProcessor = processorMilliseconds() - processorBefore;
  const int64_t frames = rig.player.framesFound();
  std::printf("file: %s, %ld frames, %zu key-frame start points kept\n", path.c_str(), long(frames),
              rig.player.startPoints());
  std::printf("first jump to the end (walks the file), cold: %.0f ms (processor %.0f ms)\n", firstEnd,
              firstEndProcessor);
  check(rig.player.goTo(0, PictureMode{}));
  std::printf("later jump to the end: %.2f ms\n",
              milliseconds([&] { check(rig.player.goToEnd(PictureMode{})); }));
  forgetCachedPages(path);
  measureJumps(rig, frames, "cold");
  measureJumps(rig, frames, "warm");
  measureJumps(rig, frames, "warm, Wide and Screen4", PictureMode{true, true});
  check(rig.player.goTo(frames / 2, PictureMode{}));
  const double played = milliseconds([&] {
    for (int frame = 0; frame < 600; ++frame) check(rig.player.next(PictureMode{}));
  });
  std::printf("playing on: %.3f ms a frame (mean of 600)\n", played / 600);

  Rig fresh;
  if (!fresh.load(path)) return 1;
  const double warmProcessorBefore = processorMilliseconds();
  const double warmEnd = milliseconds([&] { check(fresh.player.goToEnd(PictureMode{})); });
  std::printf("first jump to the end (walks the file), warm: %.0f ms (processor %.0f ms)\n", warmEnd,
              processorMilliseconds() - warmProcessorBefore);
  std::printf("peak resident memory: %ld KiB\n", peakResidentKib());
  return 0;
}
