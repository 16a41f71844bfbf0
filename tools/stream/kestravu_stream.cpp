// kestravu-stream: looks at capture streams without the device. Decodes a stream into PNG
// pictures with the program's own decoder, tells what a stream holds, encodes PNG pictures
// into a stream, writes the built-in test pattern and exports a stream to a video file. Bad
// input ends it with status 2 and one line on stderr; outputs are written under a temporary
// name and renamed when complete.
#include <png.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "stream_encoder.h"
#include "test_pattern.h"
#include "video_writer.h"

namespace {

using FrameFormat::kCellsPerFrame;
using FrameFormat::kCellsPerLine;

constexpr int kBadInput = 2;
constexpr const char* kUsage =
    "usage: kestravu-stream decode STREAM OUTDIR [--wide] [--screen4] | info STREAM | "
    "encode -o STREAM [--key-every N] IMAGE.png... | pattern -o STREAM [--frames N] | "
    "video STREAM OUT.mkv|OUT.mp4 [--wide] [--screen4] [--fps N]";

__attribute__((format(printf, 1, 2))) int fail(const char* format, ...) {
  std::fputs("kestravu-stream: ", stderr);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
  return kBadInput;
}

// ---- Command line -------------------------------------------------------------------------

struct Options {
  std::vector<const char*> operands;
  const char* output = nullptr;
  long keyEvery = 60;
  long frames = 600;
  long framesPerSecond = 60;
  bool wide = false;
  bool screen4 = false;
};

bool parseCount(const char* text, long maximum, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= 1 && value <= maximum;
}

// Whether `argument` is, whole, one of the space-separated words of `allowed`. A search for it
// in the list would let one argument "--wide --screen4" pass as both.
bool isAllowed(const char* argument, const char* allowed) {
  const size_t length = std::strlen(argument);
  for (const char* word = allowed; *word != '\0';) {
    const size_t wordLength = std::strcspn(word, " ");
    if (wordLength == length && std::strncmp(word, argument, length) == 0) return true;
    word += wordLength + (word[wordLength] == ' ' ? 1 : 0);
  }
  return false;
}

// `allowed` lists the options of the command, e.g. "--wide --screen4". Returns 0 or kBadInput.
int parseOptions(int argc, char** argv, const char* allowed, Options& options) {
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    bool takesValue = !std::strcmp(argument, "-o") || !std::strcmp(argument, "--key-every") ||
                      !std::strcmp(argument, "--frames") || !std::strcmp(argument, "--fps");
    if (argument[0] != '-' || argument[1] == '\0') {
      options.operands.push_back(argument);
      continue;
    }
    if (!isAllowed(argument, allowed))
      return fail("unknown option '%s' (%s)", argument, kUsage);
    if (takesValue && i + 1 == argc) return fail("option '%s' needs a value", argument);
    if (!std::strcmp(argument, "-o")) {
      options.output = argv[++i];
    } else if (!std::strcmp(argument, "--fps")) {
      if (!parseCount(argv[++i], 1000, options.framesPerSecond))
        return fail("option '%s' needs a whole number from 1 to 1000, not '%s'", argument, argv[i]);
    } else if (!std::strcmp(argument, "--key-every") || !std::strcmp(argument, "--frames")) {
      long& target = !std::strcmp(argument, "--frames") ? options.frames : options.keyEvery;
      if (!parseCount(argv[++i], 10000000, target))
        return fail("option '%s' needs a whole number from 1 to 10000000, not '%s'", argument, argv[i]);
    } else {
      (!std::strcmp(argument, "--wide") ? options.wide : options.screen4) = true;
    }
  }
  return 0;
}

// ---- Files --------------------------------------------------------------------------------

// A stream file mapped into memory rather than read into it: a recording may be larger than
// memory. The pages the decoder has left behind are given back as it goes (they stay in the
// page cache), so that the tool's resident memory stays small whatever the file's size.
class MappedStream {
 public:
  MappedStream() = default;
  MappedStream(const MappedStream&) = delete;
  MappedStream& operator=(const MappedStream&) = delete;
  ~MappedStream() {
    if (data_ != nullptr) munmap(data_, size_);
  }

  // Opened without waiting: a FIFO or a device could block for good. 0 or kBadInput.
  int open(const char* path) {
    const int file = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) return fail("cannot open stream '%s': %s", path, std::strerror(errno));
    struct stat status;
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
      ::close(file);
      return fail("cannot read stream '%s': not a regular file", path);
    }
    size_ = static_cast<size_t>(status.st_size);
    void* mapped = size_ == 0 ? nullptr : mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file, 0);
    const int error = errno;
    ::close(file);
    if (mapped == MAP_FAILED) {
      size_ = 0;
      return fail("cannot read stream '%s': %s", path, std::strerror(error));
    }
    data_ = static_cast<uint8_t*>(mapped);
    if (data_ != nullptr) madvise(data_, size_, MADV_SEQUENTIAL);
    return 0;
  }

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // The pages before `position` are not needed again.
  void release(size_t position) {
    const size_t end = position / kReleaseStep * kReleaseStep;
    if (end <= released_) return;
    madvise(data_ + released_, end - released_, MADV_DONTNEED);
    released_ = end;
  }

 private:
  static constexpr size_t kReleaseStep = 8 << 20;  // a whole number of pages
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t released_ = 0;
};

// An output file is written as PATH.tmp and renamed to PATH only when it is complete.
struct OutputFile {
  std::string path, temporaryPath;
  FILE* file = nullptr;
};

int openOutput(const char* path, OutputFile& output) {
  output.path = path;
  output.temporaryPath = output.path + ".tmp";
  output.file = std::fopen(output.temporaryPath.c_str(), "wb");
  if (output.file == nullptr) return fail("cannot write '%s': %s", path, std::strerror(errno));
  return 0;
}

void abandonOutput(OutputFile& output) {
  if (output.file != nullptr) std::fclose(output.file);
  output.file = nullptr;
  std::remove(output.temporaryPath.c_str());
}

int finishOutput(OutputFile& output) {
  bool failed = std::ferror(output.file) != 0;
  failed = std::fclose(output.file) != 0 || failed;
  output.file = nullptr;
  if (failed || std::rename(output.temporaryPath.c_str(), output.path.c_str()) != 0) {
    int error = errno;
    std::remove(output.temporaryPath.c_str());
    return fail("cannot write '%s': %s", output.path.c_str(), std::strerror(error));
  }
  return 0;
}

int writeBytes(OutputFile& output, const uint8_t* bytes, size_t size) {
  if (std::fwrite(bytes, 1, size, output.file) == size) return 0;
  int error = errno;
  abandonOutput(output);
  return fail("cannot write '%s': %s", output.path.c_str(), std::strerror(error));
}

// ---- Pictures -----------------------------------------------------------------------------

bool writePng(const char* path, const uint8_t* rgb, int width, int height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  int written = png_image_write_to_file(&image, path, 0, rgb, 0, nullptr);
  png_image_free(&image);
  return written != 0;
}

// Reads a picture of kPictureWidth x kPictureHeight into `rgb` (8-bit RGB, top line first).
int readPicture(const char* path, uint8_t* rgb) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path))
    return fail("cannot read picture '%s': %s", path, image.message);
  if (image.width != kPictureWidth || image.height != kPictureHeight) {
    png_image_free(&image);
    return fail("picture '%s' is %u x %u, not %d x %d", path, image.width, image.height, kPictureWidth,
                kPictureHeight);
  }
  image.format = PNG_FORMAT_RGB;
  if (!png_image_finish_read(&image, nullptr, rgb, 0, nullptr))
    return fail("cannot read picture '%s': %s", path, image.message);
  return 0;
}

// Nearest palette index by squared RGB distance; ties go to the lower index, so black is 0.
int nearestPaletteIndex(const uint8_t* rgb) {
  int best = 0;
  long bestDistance = -1;
  for (int index = 0; index < 16; ++index) {
    long red = rgb[0] - kPalette[index].red, green = rgb[1] - kPalette[index].green;
    long blue = rgb[2] - kPalette[index].blue;
    long distance = red * red + green * green + blue * blue;
    if (bestDistance < 0 || distance < bestDistance) best = index, bestDistance = distance;
  }
  return best;
}

// Two pixels make a cell: the left one in the low nibble.
void quantisePicture(const uint8_t* rgb, uint8_t* cells) {
  for (int cell = 0; cell < kCellsPerFrame; ++cell) {
    const uint8_t* left = rgb + cell * 2 * 3;
    cells[cell] = static_cast<uint8_t>(nearestPaletteIndex(left) | nearestPaletteIndex(left + 3) << 4);
  }
}

// The picture as the window shows it, top line first.
void copyPicture(const FrameBuffer& picture, bool wide, uint8_t* rgb) {
  int width = wide ? kBufferWidth : kPictureWidth, height = wide ? kBufferHeight : kPictureHeight;
  for (int line = 0; line < height; ++line) {
    const uint32_t* row = picture.row(line);
    for (int x = 0; x < width; ++x, rgb += 3) {
      rgb[0] = static_cast<uint8_t>(row[x] >> 16);
      rgb[1] = static_cast<uint8_t>(row[x] >> 8);
      rgb[2] = static_cast<uint8_t>(row[x]);
    }
  }
}

// ---- Commands -----------------------------------------------------------------------------

// The decoder and its picture, allocated once as a viewer does. The clock stands still: a
// stream file has no pace, so only the byte bound ends a call without a frame.
struct StreamDecoder {
  struct StillClock final : Clock {
    uint32_t milliseconds() override { return 0; }
  } clock;
  FrameDecoder decoder;
  FrameBuffer picture;
  bool allocate() { return decoder.allocate() && picture.allocate(); }
};

std::string framePath(const char* directory, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%05d.png", frame);
  return directory + std::string(name);
}

// A set of pictures that stops early would pass for the whole stream, so a failure removes
// the pictures of this run.
int writeFrame(const char* directory, int frame, const uint8_t* rgb, bool wide) {
  std::string path = framePath(directory, frame), temporaryPath = path + ".tmp";
  bool written = writePng(temporaryPath.c_str(), rgb, wide ? kBufferWidth : kPictureWidth,
                          wide ? kBufferHeight : kPictureHeight);
  if (written && std::rename(temporaryPath.c_str(), path.c_str()) == 0) return 0;
  int error = errno;
  std::remove(temporaryPath.c_str());
  for (int earlier = 0; earlier < frame; ++earlier) std::remove(framePath(directory, earlier).c_str());
  return fail("cannot write '%s'%s%s", path.c_str(), written ? ": " : "",
              written ? std::strerror(error) : "");
}

struct PictureCount {
  int frames = 0, callsWithoutFrame = 0;
};

// Decodes the stream and hands each picture as the window shows it to
// `usePicture(frame, rgb, bytesRead)` (8-bit RGB, top line first); a status from it ends the loop.
template <typename UsePicture>
int forEachPicture(MappedStream& stream, PictureMode mode, PictureCount& count, UsePicture usePicture) {
  std::vector<uint8_t> rgb(static_cast<size_t>(kBufferWidth) * kBufferHeight * 3);
  StreamDecoder streamDecoder;
  if (!streamDecoder.allocate()) return fail("out of memory");
  MemorySource source{stream.data(), stream.size()};
  for (;;) {
    stream.release(source.position);
    FrameDecoder::Result result =
        streamDecoder.decoder.decodeFrame(source, streamDecoder.picture, mode, streamDecoder.clock);
    if (result == FrameDecoder::Result::SourceFailed) return 0;  // the end, or a frame cut off by it
    if (result == FrameDecoder::Result::NoFrame) {
      ++count.callsWithoutFrame;
      continue;
    }
    copyPicture(streamDecoder.picture, mode.wide, rgb.data());
    if (int status = usePicture(count.frames, rgb.data(), source.position)) return status;
    ++count.frames;
  }
}

void printCount(const PictureCount& count, const char* written, const char* output, size_t bytes) {
  std::printf("%d frames %s %s from %zu bytes", count.frames, written, output, bytes);
  if (count.callsWithoutFrame > 0)
    std::printf(" (gave up %d times after 1 MiB without a frame)", count.callsWithoutFrame);
  std::printf("\n");
}

int runDecode(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "--wide --screen4", options)) return status;
  if (options.operands.size() != 2) return fail("decode needs STREAM and OUTDIR (%s)", kUsage);
  const char* directory = options.operands[1];
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  if (mkdir(directory, 0777) != 0 && errno != EEXIST)
    return fail("cannot create '%s': %s", directory, std::strerror(errno));
  PictureCount count;
  int status = forEachPicture(stream, PictureMode{options.wide, options.screen4}, count,
                              [&](int frame, const uint8_t* rgb, size_t) {
                                return writeFrame(directory, frame, rgb, options.wide);
                              });
  if (status != 0) return status;
  printCount(count, "written to", directory, stream.size());
  return 0;
}

bool hasExtension(const char* path, const char* extension) {
  size_t length = std::strlen(path), extensionLength = std::strlen(extension);
  return length > extensionLength && !strcasecmp(path + length - extensionLength, extension);
}

// "frame N (P%)" on a terminal, at most four times a second; logs get nothing.
struct Progress {
  bool shown = false, terminal = isatty(fileno(stderr)) != 0;
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

int runVideo(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "--wide --screen4 --fps", options)) return status;
  if (options.operands.size() != 2) return fail("video needs STREAM and OUT (%s)", kUsage);
  const char* path = options.operands[1];
  bool lossless = hasExtension(path, ".mkv");
  if (!lossless && !hasExtension(path, ".mp4"))
    return fail("cannot tell the video format of '%s': name it .mkv (lossless) or .mp4 (H.264)", path);
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  // A video that stops early would pass for the whole stream: it is written under a
  // temporary name and renamed only when it is complete.
  const std::string temporaryPath = std::string(path) + ".tmp";
  VideoWriter writer;
  Progress progress;
  auto abandon = [&](const std::string& why) {
    progress.end();
    std::remove(temporaryPath.c_str());
    return fail("cannot write '%s': %s", path, why.c_str());
  };
  if (!writer.open(temporaryPath, options.wide ? kBufferWidth : kPictureWidth,
                   options.wide ? kBufferHeight : kPictureHeight, static_cast<int>(options.framesPerSecond),
                   lossless))
    return abandon(writer.error());
  PictureCount count;
  int status = forEachPicture(stream, PictureMode{options.wide, options.screen4}, count,
                              [&](int frame, const uint8_t* rgb, size_t bytesRead) {
                                progress.update(frame, bytesRead, stream.size());
                                return writer.writeFrame(rgb) ? 0 : abandon(writer.error());
                              });
  progress.end();
  if (status != 0) {
    std::remove(temporaryPath.c_str());
    return status;
  }
  if (count.frames == 0) {
    std::remove(temporaryPath.c_str());
    return fail("'%s' holds no complete frame to export", options.operands[0]);
  }
  if (!writer.finish()) return abandon(writer.error());
  if (std::rename(temporaryPath.c_str(), path) != 0) return abandon(std::strerror(errno));
  printCount(count, "exported to", path, stream.size());
  return 0;
}

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
    if (FrameFormat::isRestartPair(bytes[at], bytes[at + 1])) ++counts.restarts, key = true;
  }
  counts.keyFrames += key ? 1 : 0;
  counts.minFrameBytes = counts.frames == 0 || size < counts.minFrameBytes ? size : counts.minFrameBytes;
  counts.maxFrameBytes = size > counts.maxFrameBytes ? size : counts.maxFrameBytes;
  counts.totalFrameBytes += size;
  ++counts.frames;
}

int runInfo(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "", options)) return status;
  if (options.operands.size() != 1) return fail("info needs STREAM (%s)", kUsage);
  MappedStream stream;
  if (int status = stream.open(options.operands[0])) return status;
  StreamDecoder streamDecoder;
  if (!streamDecoder.allocate()) return fail("out of memory");
  MemorySource source{stream.data(), stream.size()};
  StreamCounts counts;
  for (;;) {
    size_t start = source.position;
    stream.release(start);
    FrameDecoder::Result result =
        streamDecoder.decoder.decodeFrame(source, streamDecoder.picture, PictureMode{}, streamDecoder.clock);
    long size = static_cast<long>(source.position - start);
    if (result == FrameDecoder::Result::SourceFailed) {
      counts.trailingBytes = size;
      break;
    }
    if (result == FrameDecoder::Result::NoFrame)
      counts.bytesWithoutFrame += size;
    else
      countFrame(stream.data() + start, size, counts);
  }
  std::printf("stream: %s, %zu bytes\n", options.operands[0], stream.size());
  std::printf("frames: %ld (key %ld, delta %ld)\n", counts.frames, counts.keyFrames,
              counts.frames - counts.keyFrames);
  std::printf("restarts: %ld\n", counts.restarts);
  std::printf("skipped bytes: %ld\n", counts.skippedBytes);
  std::printf("bytes per frame: min %ld, mean %.1f, max %ld\n", counts.minFrameBytes,
              counts.frames ? double(counts.totalFrameBytes) / counts.frames : 0.0, counts.maxFrameBytes);
  std::printf("bytes after the last frame: %ld\n", counts.trailingBytes);
  if (counts.bytesWithoutFrame > 0)
    std::printf("bytes without a frame (given up): %ld\n", counts.bytesWithoutFrame);
  return 0;
}

int runEncode(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, "-o --key-every", options)) return status;
  if (options.output == nullptr || options.operands.empty())
    return fail("encode needs -o STREAM and at least one picture (%s)", kUsage);
  std::vector<uint8_t> rgb(kPictureWidth * kPictureHeight * 3), cells(kCellsPerFrame);
  std::vector<uint8_t> previousCells(kCellsPerFrame), encoded(kMaxEncodedFrameBytes);
  OutputFile output;
  if (int status = openOutput(options.output, output)) return status;
  long keyFrames = 0, bytes = 0;
  for (size_t picture = 0; picture < options.operands.size(); ++picture) {
    if (int status = readPicture(options.operands[picture], rgb.data())) {
      abandonOutput(output);
      return status;
    }
    quantisePicture(rgb.data(), cells.data());
    bool key = picture % static_cast<size_t>(options.keyEvery) == 0;
    size_t size = encodeFrame(cells.data(), key ? nullptr : previousCells.data(), encoded.data());
    if (int status = writeBytes(output, encoded.data(), size)) return status;
    previousCells.swap(cells);
    keyFrames += key ? 1 : 0, bytes += static_cast<long>(size);
  }
  if (int status = finishOutput(output)) return status;
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
  if (int status = openOutput(options.output, output)) return status;
  long bytes = 0;
  for (long frame = 0; frame < options.frames; ++frame) {
    size_t size = nextPatternFrame(pattern, encoded.data());
    if (int status = writeBytes(output, encoded.data(), size)) return status;
    bytes += static_cast<long>(size);
  }
  if (int status = finishOutput(output)) return status;
  std::printf("%ld frames of the test pattern written to %s, %ld bytes\n", options.frames, options.output,
              bytes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return fail("no command (%s)", kUsage);
  const char* command = argv[1];
  if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h")) {
    std::printf("%s\n", kUsage);
    return 0;
  }
  if (!std::strcmp(command, "decode")) return runDecode(argc - 2, argv + 2);
  if (!std::strcmp(command, "info")) return runInfo(argc - 2, argv + 2);
  if (!std::strcmp(command, "encode")) return runEncode(argc - 2, argv + 2);
  if (!std::strcmp(command, "pattern")) return runPattern(argc - 2, argv + 2);
  if (!std::strcmp(command, "video")) return runVideo(argc - 2, argv + 2);
  return fail("unknown command '%s' (%s)", command, kUsage);
}
