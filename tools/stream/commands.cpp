#include "commands.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "mapped_stream.h"
#include "output_file.h"
#include "pictures.h"
#include "stream_encoder.h"
#include "stream_pass.h"
#include "test_pattern.h"
#include "video_writer.h"

namespace {

std::string framePath(const char* directory, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%05d.png", frame);
  return directory + std::string(name);
}

// A failure part-way leaves the pictures already written, each whole, and says how far the run
// got: pictures of earlier runs are never removed, and the line on stderr and the status tell
// that the set is not the whole stream.
int writeFrame(const char* directory, int frame, const uint8_t* rgb, bool wide, const FileIdentity& input,
               int firstFrame) {
  OutputFile output;
  if (frame > firstFrame) {
    char note[96];
    std::snprintf(note, sizeof note, "; frame-%05d.png to frame-%05d.png of this run are written", firstFrame,
                  frame - 1);
    output.setFailureNote(note);
  }
  if (int status = output.open(framePath(directory, frame).c_str(), {input})) return status;
  errno = 0;
  if (!writePng(output.stream(), rgb, pictureSize(wide)))
    return output.fail(errno != 0 ? std::strerror(errno) : "cannot encode the picture");
  return output.finish();
}

// A range the stream does not hold is refused before any output is made. 0 or kBadInput.
int checkRange(const Options& options) {
  std::string error;
  if (!options.range.given || checkRange(options.operands[0], options.range, error) == 0) return 0;
  return fail("%s", error.c_str());
}

void printCount(const PictureCount& count, const char* written, const char* output, size_t bytes) {
  std::printf("%d frames %s %s from %zu bytes", count.frames, written, output, bytes);
  if (count.callsWithoutFrame > 0)
    std::printf(" (gave up %d times after 1 MiB without a frame)", count.callsWithoutFrame);
  std::printf("\n");
}

bool hasExtension(const char* path, const char* extension) {
  size_t length = std::strlen(path);
  size_t extensionLength = std::strlen(extension);
  return length > extensionLength && !strcasecmp(path + length - extensionLength, extension);
}

// "frame N (P%)" on a terminal, at most four times a second; logs get nothing.
struct Progress {
  bool shown = false;
  bool terminal = isatty(fileno(stderr)) != 0;
  std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now();

  void update(int frame, size_t bytesRead, size_t bytes) {
    if (!terminal || std::chrono::steady_clock::now() < next) return;
    next += std::chrono::milliseconds(250);
    std::fprintf(stderr, "\rframe %d (%d%%)", frame + 1, static_cast<int>(bytesRead * 100 / bytes));
    shown = true;
  }
  void end() {
    if (shown) std::fputc('\n', stderr);
    shown = false;
  }
};

struct StreamCounts {
  long frames = 0, keyFrames = 0, restarts = 0, skippedBytes = 0;
  long minFrameBytes = 0, maxFrameBytes = 0, totalFrameBytes = 0;
  long bytesWithoutFrame = 0, trailingBytes = 0;
};

// Looks at the bytes of one frame the decoder completed: the marker search (a 0x81 first in
// the call is a one-byte marker), then pairs, among them key-frame restarts.
void countFrame(const uint8_t* bytes, long size, StreamCounts& counts) {
  long markerEnd = 0;
  uint8_t previous = 0;
  for (;;) {
    uint8_t byte = bytes[markerEnd++];
    if (FrameFormat::isFrameMarker(previous, byte)) break;
    previous = byte;
  }
  counts.skippedBytes += markerEnd == 1 ? 0 : markerEnd - 2;
  bool key = previous == FrameFormat::kKeyFrame;
  for (long at = markerEnd; at + 1 < size; at += 2) {
    if (!FrameFormat::isRestartPair(bytes[at], bytes[at + 1])) continue;
    ++counts.restarts;
    key = true;
  }
  counts.keyFrames += key ? 1 : 0;
  counts.minFrameBytes = counts.frames == 0 || size < counts.minFrameBytes ? size : counts.minFrameBytes;
  counts.maxFrameBytes = size > counts.maxFrameBytes ? size : counts.maxFrameBytes;
  counts.totalFrameBytes += size;
  ++counts.frames;
}

void printCounts(const char* path, size_t bytes, const StreamCounts& counts) {
  std::printf("stream: %s, %zu bytes\n", path, bytes);
  std::printf("frames: %ld (key %ld, delta %ld)\n", counts.frames, counts.keyFrames,
              counts.frames - counts.keyFrames);
  std::printf("restarts: %ld\n", counts.restarts);
  std::printf("skipped bytes: %ld\n", counts.skippedBytes);
  std::printf("bytes per frame: min %ld, mean %.1f, max %ld\n", counts.minFrameBytes,
              counts.frames ? double(counts.totalFrameBytes) / counts.frames : 0.0, counts.maxFrameBytes);
  std::printf("bytes after the last frame: %ld\n", counts.trailingBytes);
  if (counts.bytesWithoutFrame > 0)
    std::printf("bytes without a frame (given up): %ld\n", counts.bytesWithoutFrame);
}

}  // namespace

int runDecode(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "--wide --screen4 --from --to", options)) return status;
  if (options.operands.size() != 2) return fail("decode needs STREAM and OUTDIR (%s)", kUsage);
  const char* directory = options.operands[1];
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  if (int status = checkRange(options)) return status;
  if (mkdir(directory, 0777) != 0 && errno != EEXIST)
    return fail("cannot create '%s': %s", directory, std::strerror(errno));
  FileIdentity input{};
  identify(options.operands[0], input);
  PictureCount count;
  const PictureMode mode{options.wide, options.screen4};
  auto write = [&](int frame, const uint8_t* rgb, size_t) {
    return writeFrame(directory, frame, rgb, options.wide, input, static_cast<int>(options.range.first));
  };
  const char* streamPath = options.operands[0];
  int status = options.range.given
                   ? forEachPictureOfRange(streamPath, mode, options.range, stream.size(), count, write)
                   : forEachPicture(stream, mode, count, write);
  if (status != 0) return status;
  printCount(count, "written to", directory, stream.size());
  return 0;
}

int runVideo(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "--wide --screen4 --fps --from --to", options)) return status;
  if (options.operands.size() != 2) return fail("video needs STREAM and OUT (%s)", kUsage);
  const char* path = options.operands[1];
  bool lossless = hasExtension(path, ".mkv");
  if (!lossless && !hasExtension(path, ".mp4"))
    return fail("cannot tell the video format of '%s': name it .mkv (lossless) or .mp4 (H.264)", path);
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  if (int status = checkRange(options)) return status;
  FileIdentity input{};
  identify(options.operands[0], input);
  OutputFile output;
  if (int status = output.open(path, {input})) return status;
  VideoWriter writer;
  Progress progress;
  auto abandon = [&](const std::string& why) {
    progress.end();
    return output.fail(why.c_str());
  };
  const PictureSize size = pictureSize(options.wide);
  const int framesPerSecond = static_cast<int>(options.framesPerSecond);
  if (!writer.open(output.stream(), output.seekable(), size.width, size.height, framesPerSecond, lossless))
    return abandon(writer.error());
  PictureCount count;
  const PictureMode mode{options.wide, options.screen4};
  auto write = [&](int frame, const uint8_t* rgb, size_t bytesRead) {
    progress.update(frame, bytesRead, stream.size());
    return writer.writeFrame(rgb) ? 0 : abandon(writer.error());
  };
  const char* streamPath = options.operands[0];
  int status = options.range.given
                   ? forEachPictureOfRange(streamPath, mode, options.range, stream.size(), count, write)
                   : forEachPicture(stream, mode, count, write);
  progress.end();
  if (status != 0) return status;
  if (count.frames == 0) {
    output.abandon();
    return fail("'%s' holds no complete frame to export", options.operands[0]);
  }
  if (!writer.finish()) return abandon(writer.error());
  if (int finished = output.finish()) return finished;
  printCount(count, "exported to", path, stream.size());
  return 0;
}

int runInfo(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "", options)) return status;
  if (options.operands.size() != 1) return fail("info needs STREAM (%s)", kUsage);
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  StreamCounts counts;
  int status = forEachDecoderCall(stream, PictureMode{}, [&](const DecoderCall& call, const FrameBuffer&) {
    const long size = static_cast<long>(call.end - call.start);
    if (call.result == FrameDecoder::Result::SourceFailed)
      counts.trailingBytes = size;
    else if (call.result == FrameDecoder::Result::NoFrame)
      counts.bytesWithoutFrame += size;
    else
      countFrame(stream.data() + call.start, size, counts);
    return 0;
  });
  if (status != 0) return status;
  printCounts(options.operands[0], stream.size(), counts);
  return 0;
}

int runEncode(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "-o --key-every", options)) return status;
  if (options.output == nullptr || options.operands.empty())
    return fail("encode needs -o STREAM and at least one picture (%s)", kUsage);
  std::vector<uint8_t> rgb(kPictureWidth * kPictureHeight * 3);
  std::vector<uint8_t> cells(FrameFormat::kCellsPerFrame);
  std::vector<uint8_t> previousCells(FrameFormat::kCellsPerFrame);
  std::vector<uint8_t> encoded(kMaxEncodedFrameBytes);
  std::vector<FileIdentity> inputs;
  for (const char* picture : options.operands) {
    FileIdentity identity;
    if (identify(picture, identity)) inputs.push_back(identity);
  }
  OutputFile output;
  if (int status = output.open(options.output, inputs)) return status;
  long keyFrames = 0;
  long bytes = 0;
  for (size_t picture = 0; picture < options.operands.size(); ++picture) {
    if (int status = readPicture(options.operands[picture], rgb.data())) return status;
    quantisePicture(rgb.data(), cells.data());
    bool key = picture % static_cast<size_t>(options.keyEvery) == 0;
    size_t size = encodeFrame(cells.data(), key ? nullptr : previousCells.data(), encoded.data());
    if (int status = writeBytes(output, encoded.data(), size)) return status;
    previousCells.swap(cells);
    keyFrames += key ? 1 : 0;
    bytes += static_cast<long>(size);
  }
  if (int status = output.finish()) return status;
  std::printf("%zu pictures (%ld key frames) encoded to %s, %ld bytes\n", options.operands.size(), keyFrames,
              options.output, bytes);
  return 0;
}

int runPattern(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "-o --frames", options)) return status;
  if (options.output == nullptr || !options.operands.empty())
    return fail("pattern needs -o STREAM (%s)", kUsage);
  static TestPattern pattern;
  std::vector<uint8_t> encoded(kMaxEncodedFrameBytes);
  OutputFile output;
  if (int status = output.open(options.output)) return status;
  long bytes = 0;
  for (long frame = 0; frame < options.frames; ++frame) {
    size_t size = nextPatternFrame(pattern, encoded.data());
    if (int status = writeBytes(output, encoded.data(), size)) return status;
    bytes += static_cast<long>(size);
  }
  if (int status = output.finish()) return status;
  std::printf("%ld frames of the test pattern written to %s, %ld bytes\n", options.frames, options.output,
              bytes);
  return 0;
}
