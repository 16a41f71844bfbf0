// The capture link against the simulated device: the stand-in driver library found as the real
// one would be (beside the program on Windows, on the library path elsewhere), or with
// --linked first, the device linked into this program. Each run checks one case, named by the
// next argument, in a process of its own: the device reads its set-up once, when it is first
// opened. Files are made in the working directory.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "d2xx_library.h"
#include "d2xx_link.h"
#include "frame_checksum.h"
#include "frame_decoder.h"
#include "sim_link.h"
#include "stream_reader.h"
#include "test_pattern.h"

namespace {

using FrameFormat::kCellsPerFrame;
using Result = FrameDecoder::Result;

bool linkedDevice = false;
D2xxLibrary library;

// The device's six functions; an empty table, and a failed check, when the library is missing.
const D2xxFunctions& driver() {
  if (linkedDevice) return SimDevice::d2xxFunctions();
  CHECK(library.load() == D2xxLibrary::LoadResult::Loaded);
  return library.functions();
}

// The link to the device and the read buffer the decoder reads through.
struct DeviceReader {
  D2xxLink link{driver()};
  StreamReader reader{link};

  explicit DeviceReader(int32_t readSize) { reader.setReadSize(readSize); }
  OpenResult open() { return link.open(reader.readSize()); }
  void changeReadSize(int32_t readSize) {
    reader.setReadSize(readSize);
    link.reopen(reader.readSize());
  }
  // Up to `count` bytes; fewer when the reader fails first.
  std::vector<uint8_t> serve(size_t count) {
    std::vector<uint8_t> bytes;
    uint8_t byte = 0;
    while (bytes.size() < count && reader.nextByte(byte) == 0) bytes.push_back(byte);
    return bytes;
  }
};

struct Decoding {
  FrameDecoder decoder;
  FrameBuffer picture;
  SteadyClock clock;
  uint64_t bytes = 0;  // stream bytes all calls used

  Decoding() { CHECK(decoder.allocate() && picture.allocate()); }
  template <class Source>
  Result frame(Source& source) {
    Result result = decoder.decodeFrame(source, picture, PictureMode{}, clock);
    bytes += decoder.lastCallBytes();
    return result;
  }
  uint64_t checksum() { return frameChecksum(decoder.cellHistory(), picture); }
  // The checksum of every frame until the source fails.
  template <class Source>
  std::vector<uint64_t> all(Source& source) {
    std::vector<uint64_t> checksums;
    Result result;
    while ((result = frame(source)) == Result::FrameComplete) checksums.push_back(checksum());
    CHECK(result == Result::SourceFailed);
    return checksums;
  }
};

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Null unsets the variable.
void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  // The library reads the C runtime's copy of the environment, which only _putenv keeps current.
  _putenv((std::string(name) + "=" + (value != nullptr ? value : "")).c_str());
#else
  if (value != nullptr) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

void writeFile(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) std::printf("cannot write %s\n", path), std::exit(2);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::vector<std::string> readLines(const char* path) {
  std::vector<std::string> lines;
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return lines;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) lines.emplace_back(line, std::strcspn(line, "\r\n"));
  std::fclose(file);
  return lines;
}

// A fresh log and stream set-up for the device, read when it is first opened.
void setUpDevice(const char* stream, const char* framesPerSecond, const char* failAfter) {
  std::remove("device.log");
  setEnvironment("KESTRAVU_SIM_LOG", "device.log");
  setEnvironment("KESTRAVU_SIM_STREAM", stream);
  setEnvironment("KESTRAVU_SIM_FPS", framesPerSecond);
  setEnvironment("KESTRAVU_SIM_FAIL_AFTER", failAfter);
}

// The first `frames` frames of the built-in pattern, each encoded on its own.
std::vector<std::vector<uint8_t>> patternFrames(uint32_t frames) {
  static TestPattern pattern;
  pattern.frameNumber = 0;
  std::vector<uint8_t> frame(kMaxEncodedFrameBytes);
  std::vector<std::vector<uint8_t>> encoded;
  for (uint32_t i = 0; i < frames; ++i)
    encoded.emplace_back(frame.begin(), frame.begin() + static_cast<long>(nextPatternFrame(pattern, frame.data())));
  return encoded;
}

// Thirty pattern frames with bytes between two of them that hold no marker, a frame restarted
// by the key-frame marker, and the beginning of a frame that never ends: 31 whole frames.
std::vector<uint8_t> testStream() {
  const std::vector<std::vector<uint8_t>> frames = patternFrames(30);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    stream.insert(stream.end(), frames[i].begin(), frames[i].end());
    if (i == 10) stream.insert(stream.end(), {0x42, 0x81, 0x7F, 0x02, 0x81});
  }
  stream.insert(stream.end(), {0x10, 0x20, 0x00, 0x81, 0x05, 0x10, 0x06, 0x20});
  stream.insert(stream.end(), frames[0].begin(), frames[0].end());  // a key frame: restarts the frame
  stream.insert(stream.end(), frames[0].begin(), frames[0].begin() + 3000);
  return stream;
}

// ---- the cases ----------------------------------------------------------------------------

// The device sends a stream file as fast as it is read; the link decodes it exactly as memory
// does, and the driver saw exactly the calls the link is meant to make.
void streamFileDecodesAsFromMemory() {
  const std::vector<uint8_t> stream = testStream();
  writeFile("stream.kvs", stream);
  setUpDevice("stream.kvs", "0", nullptr);
  DeviceReader device(100);
  Decoding viaLink;
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  StreamReader::Source source{&device.reader};
  const std::vector<uint64_t> viaLinkFrames = viaLink.all(source);
  CHECK(device.reader.lastRefill() == ReadResult::TimedOut);
  CHECK_EQ(viaLink.bytes, uint64_t{stream.size()});
  device.link.close();

  Decoding inMemory;
  MemorySource memory{stream.data(), stream.size()};
  const std::vector<uint64_t> inMemoryFrames = inMemory.all(memory);
  CHECK_EQ(inMemoryFrames.size(), size_t{31});
  CHECK(viaLinkFrames == inMemoryFrames);

  const std::vector<std::string> log = readLines("device.log");
  // The open's calls are the link's affair; every read logs what it brought.
  size_t firstRead = 0;
  while (firstRead < log.size() && log[firstRead].rfind("FT_Read ", 0) != 0) ++firstRead;
  if (!CHECK(log.size() > firstRead + 2)) return;
  const std::string readLine = "FT_Read handle=1 count=100 -> 0 received=";
  size_t received = 0;
  for (size_t i = firstRead; i + 1 < log.size(); ++i) {
    if (!CHECK_EQ(log[i].substr(0, readLine.size()), readLine)) break;
    received += std::strtoul(log[i].c_str() + readLine.size(), nullptr, 10);
  }
  CHECK_EQ(received, stream.size());
  CHECK_EQ(log[log.size() - 2], readLine + "0");
  CHECK_EQ(log.back(), "FT_Close handle=1 -> 0");
}

// The built-in pattern, frame after frame, at the rate asked for; or the same frames from a
// stream file, paced at the frame ends the device finds in it. The file holds one frame more
// than is decoded, so that the last read is not left waiting for a silent device.
void patternArrivesAtItsRate(bool fromFile, const char* framesPerSecond, uint32_t frames) {
  if (fromFile) {
    std::vector<uint8_t> stream;
    for (const std::vector<uint8_t>& frame : patternFrames(frames + 1)) stream.insert(stream.end(), frame.begin(), frame.end());
    writeFile("pattern.kvs", stream);
  }
  setUpDevice(fromFile ? "pattern.kvs" : nullptr, framesPerSecond, nullptr);
  const double rate = framesPerSecond == nullptr ? 60.0 : std::atof(framesPerSecond);
  DeviceReader device(kDefaultReadSize);
  Decoding decoding;
  std::vector<uint8_t> cells(kCellsPerFrame);
  const double start = seconds();
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  StreamReader::Source source{&device.reader};
  for (uint32_t frame = 0; frame < frames; ++frame) {
    if (!CHECK(decoding.frame(source) == Result::FrameComplete)) return;
    renderPatternFrame(frame, cells.data());
    if (!CHECK(std::memcmp(decoding.decoder.cellHistory(), cells.data(), kCellsPerFrame) == 0)) {
      std::printf("frame %u differs from the pattern\n", frame);
      return;
    }
  }
  const double elapsed = seconds() - start;
  std::printf("%u frames in %.3f s\n", frames, elapsed);
  if (rate > 0) {
    const double expected = frames / rate;
    CHECK(elapsed > 0.8 * expected);
    // Loose above: a loaded machine delays the reader, not the device; only a pace gone wrong
    // (a frame per read, say, or twice the period) lands this far out.
    CHECK(elapsed < 3 * expected);
  }
}

// A read waits for the count or the time-out, then brings what arrived: here 10 bytes, then
// nothing; with no time-out it does not wait at all.
void readsWaitForTheTimeOut() {
  writeFile("ten.kvs", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  setUpDevice("ten.kvs", "0", nullptr);
  const D2xxFunctions& d2xx = driver();
  if (d2xx.openEx == nullptr) return;
  FT_HANDLE handle = nullptr;
  if (!CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), FT_OPEN_BY_DESCRIPTION, &handle), FT_OK)) return;
  CHECK_EQ(d2xx.setTimeouts(handle, 300, 300), FT_OK);
  uint8_t buffer[32] = {};
  const uint32_t expectedReceived[] = {10, 0, 0};
  for (uint32_t expected : expectedReceived) {
    uint32_t received = 99;
    const double start = seconds();
    CHECK_EQ(d2xx.read(handle, buffer, 32, &received), FT_OK);
    const double elapsed = seconds() - start;
    CHECK_EQ(received, expected);
    CHECK(elapsed >= 0.28);
    CHECK(elapsed < 2.0);
  }
  CHECK_EQ(buffer[0], 1);
  CHECK_EQ(buffer[9], 10);
  CHECK_EQ(d2xx.setTimeouts(handle, 0, 0), FT_OK);
  uint32_t received = 99;
  const double start = seconds();
  CHECK_EQ(d2xx.read(handle, buffer, 32, &received), FT_OK);
  CHECK_EQ(received, 0u);
  CHECK(seconds() - start < 0.25);
  CHECK_EQ(d2xx.close(handle), FT_OK);
}

// A repeated file comes round again at once: every read brings its whole count.
void repeatedFileComesRound() {
  writeFile("ten.kvs", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  setUpDevice("ten.kvs", "0", nullptr);
  setEnvironment("KESTRAVU_SIM_LOOP", "1");
  DeviceReader device(25);
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  const std::vector<uint8_t> served = device.serve(100);
  if (!CHECK_EQ(served.size(), size_t{100})) return;
  for (size_t i = 0; i < served.size(); ++i)
    if (!CHECK_EQ(served[i], i % 10 + 1)) break;
  const std::vector<std::string> log = readLines("device.log");
  if (!CHECK_EQ(log.size(), size_t{8})) return;
  for (size_t i = 4; i < log.size(); ++i) CHECK_EQ(log[i], "FT_Read handle=1 count=25 -> 0 received=25");
}

// After the set number of bytes the device is gone: exactly those bytes, then error reads.
void deviceFailsAfterItsBytes() {
  setUpDevice(nullptr, "0", "1000");
  DeviceReader device(64);
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  const std::vector<uint8_t> expected = patternFrames(1)[0];
  const std::vector<uint8_t> served = device.serve(5000);
  CHECK_EQ(served.size(), size_t{1000});
  CHECK(std::equal(served.begin(), served.end(), expected.begin()));
  CHECK(device.reader.lastRefill() == ReadResult::ReadFailed);
  CHECK_EQ(device.link.lastStatus(), FT_IO_ERROR);
  CHECK(device.serve(1).empty());  // and it stays gone
  const std::vector<std::string> log = readLines("device.log");
  if (!CHECK(log.size() >= 3)) return;
  CHECK_EQ(log[log.size() - 3], "FT_Read handle=1 count=64 -> 0 received=40");  // 15 x 64 + 40
  CHECK_EQ(log[log.size() - 2], "FT_Read handle=1 count=64 -> 4 received=0");
  CHECK_EQ(log.back(), "FT_Read handle=1 count=64 -> 4 received=0");
}

// Only flag 2 with the exact description opens; only the open handle is accepted.
void onlyTheOpenDeviceAnswers() {
  setUpDevice(nullptr, "0", nullptr);
  const D2xxFunctions& d2xx = driver();
  if (d2xx.openEx == nullptr) return;
  FT_HANDLE handle = nullptr;
  CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU "), 2, &handle), FT_DEVICE_NOT_FOUND);
  CHECK_EQ(d2xx.openEx(const_cast<char*>("kestravu"), 2, &handle), FT_DEVICE_NOT_FOUND);
  CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 1, &handle), FT_DEVICE_NOT_FOUND);
  CHECK_EQ(d2xx.openEx(nullptr, 2, &handle), FT_DEVICE_NOT_FOUND);
  CHECK(handle == nullptr);
  if (!CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 2, &handle), FT_OK)) return;
  FT_HANDLE second = nullptr;
  CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 2, &second), FT_DEVICE_NOT_OPENED);

  uint8_t buffer[8];
  uint32_t received = 0;
  const FT_HANDLE stranger = reinterpret_cast<FT_HANDLE>(uintptr_t{77});
  for (FT_HANDLE wrong : {stranger, static_cast<FT_HANDLE>(nullptr)}) {
    CHECK_EQ(d2xx.setBitMode(wrong, 0, 0), FT_INVALID_HANDLE);
    CHECK_EQ(d2xx.setUSBParameters(wrong, 32, 0), FT_INVALID_HANDLE);
    CHECK_EQ(d2xx.setTimeouts(wrong, 3000, 3000), FT_INVALID_HANDLE);
    CHECK_EQ(d2xx.read(wrong, buffer, 8, &received), FT_INVALID_HANDLE);
    CHECK_EQ(d2xx.close(wrong), FT_INVALID_HANDLE);
  }
  CHECK_EQ(d2xx.read(handle, buffer, 8, &received), FT_OK);  // still open after all that
  CHECK_EQ(received, 8u);
  CHECK_EQ(d2xx.close(handle), FT_OK);
  CHECK_EQ(d2xx.read(handle, buffer, 8, &received), FT_INVALID_HANDLE);
  CHECK_EQ(d2xx.setBitMode(handle, 0, 0), FT_INVALID_HANDLE);
  CHECK_EQ(d2xx.close(handle), FT_INVALID_HANDLE);
  if (!CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 2, &second), FT_OK)) return;
  CHECK(second != handle);  // an old handle does not come back to life
  CHECK_EQ(d2xx.read(handle, buffer, 8, &received), FT_INVALID_HANDLE);
  CHECK_EQ(d2xx.close(second), FT_OK);

  setEnvironment("KESTRAVU_SIM_ABSENT", "1");  // unplugged
  CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 2, &second), FT_DEVICE_NOT_FOUND);
}

void absentDeviceFailsTheOpen() {
  setUpDevice(nullptr, "0", nullptr);
  setEnvironment("KESTRAVU_SIM_ABSENT", "1");
  DeviceReader device(kDefaultReadSize);
  CHECK(device.open() == OpenResult::DeviceNotFound);
  CHECK_EQ(device.link.lastStatus(), FT_DEVICE_NOT_FOUND);
  CHECK_EQ(readLines("device.log"), std::vector<std::string>{"FT_OpenEx description=KESTRAVU flags=2 -> 2"});

  // Attached, but its stream file cannot be read: the open fails until the file is there.
  setEnvironment("KESTRAVU_SIM_ABSENT", "0");
  std::remove("later.kvs");
  setEnvironment("KESTRAVU_SIM_STREAM", "later.kvs");
  CHECK(device.open() == OpenResult::DeviceNotFound);
  CHECK_EQ(device.link.lastStatus(), FT_DEVICE_NOT_OPENED);
  writeFile("later.kvs", {0x01, 0x81});
  CHECK(device.open() == OpenResult::Opened);
  CHECK(device.serve(1) == std::vector<uint8_t>{0x01});
}

// A reopen at a new size: the device's stream goes on where it was, leftovers first.
void reopenContinuesTheStream() {
  std::vector<uint8_t> stream(1000);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i * 7);
  writeFile("counting.kvs", stream);
  setUpDevice("counting.kvs", "0", nullptr);
  DeviceReader device(32);
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  std::vector<uint8_t> served = device.serve(27);
  device.changeReadSize(64);
  const std::vector<uint8_t> rest = device.serve(stream.size() - served.size());
  served.insert(served.end(), rest.begin(), rest.end());
  CHECK(served == stream);
  // The reads and the close between them; the calls of the open in between are the link's.
  std::vector<std::string> readsAndClose;
  for (const std::string& line : readLines("device.log"))
    if (line.rfind("FT_Read ", 0) == 0 || line.rfind("FT_Close ", 0) == 0) readsAndClose.push_back(line);
  const std::vector<std::string> expected = {"FT_Read handle=1 count=32 -> 0 received=32", "FT_Close handle=1 -> 0",
                                             "FT_Read handle=2 count=64 -> 0 received=64"};
  if (!CHECK(readsAndClose.size() >= 3)) return;
  CHECK(std::vector<std::string>(readsAndClose.begin(), readsAndClose.begin() + 3) == expected);
}

// KESTRAVU_SIM_OPENS=1: the first open succeeds, a reopen finds no device, and the reader then
// fails without reading; 0 refuses even the first open.
void opensBeyondTheLimitFail() {
  writeFile("short.kvs", {0x01, 0x81, 0x05, 0x10});
  setUpDevice("short.kvs", "0", nullptr);
  setEnvironment("KESTRAVU_SIM_OPENS", "1");
  DeviceReader device(2);
  if (!CHECK(device.open() == OpenResult::Opened)) return;
  CHECK(device.serve(1) == std::vector<uint8_t>{0x01});
  device.changeReadSize(64);
  CHECK(!device.link.isOpen());
  CHECK_EQ(device.link.lastStatus(), FT_DEVICE_NOT_FOUND);
  CHECK(device.serve(2) == std::vector<uint8_t>{0x81});  // the leftover still comes
  CHECK(device.reader.lastRefill() == ReadResult::NotOpen);
  const std::vector<std::string> log = readLines("device.log");
  if (CHECK(log.size() >= 7)) {
    CHECK_EQ(log[5], std::string("FT_Close handle=1 -> 0"));
    CHECK_EQ(log[6], std::string("FT_OpenEx description=KESTRAVU flags=2 -> 2"));
  }
  CHECK_EQ(log.size(), 7u);  // nothing else is asked of a device that is not there

  setEnvironment("KESTRAVU_SIM_OPENS", "2");  // read at every open: one more allowed
  CHECK(device.open() == OpenResult::Opened);
  device.link.close();
  setEnvironment("KESTRAVU_SIM_OPENS", "0");
  CHECK(device.open() == OpenResult::DeviceNotFound);
}

// Run where no library is found, or where the one found lacks a function: the library does not
// load, nothing of it is used, and a link over its empty table fails every open and read.
void libraryProblemFailsTheOpen(D2xxLibrary::LoadResult expected) {
  CHECK(library.load() == expected);
  const D2xxFunctions& none = library.functions();
  CHECK(none.openEx == nullptr && none.setTimeouts == nullptr && none.read == nullptr && none.close == nullptr);
  D2xxLink link(none);
  StreamReader reader(link);
  CHECK(link.open(kDefaultReadSize) == OpenResult::LibraryMissing);
  uint8_t byte = 0;
  CHECK_EQ(reader.nextByte(byte), 1);
  CHECK(reader.lastRefill() == ReadResult::NotOpen);
  link.reopen(kDefaultReadSize);
  link.close();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1 && std::strcmp(argv[1], "--linked") == 0) linkedDevice = true, --argc, ++argv;
  const std::string name = argc > 1 ? argv[1] : "";
  if (name == "stream") streamFileDecodesAsFromMemory();
  else if (name == "pattern" || name == "pattern-file")
    patternArrivesAtItsRate(name == "pattern-file", argc > 2 ? argv[2] : nullptr, argc > 3 ? std::atoi(argv[3]) : 30);
  else if (name == "timeout") readsWaitForTheTimeOut();
  else if (name == "loop") repeatedFileComesRound();
  else if (name == "fault") deviceFailsAfterItsBytes();
  else if (name == "handles") onlyTheOpenDeviceAnswers();
  else if (name == "absent") absentDeviceFailsTheOpen();
  else if (name == "reopen") reopenContinuesTheStream();
  else if (name == "opens") opensBeyondTheLimitFail();
  else if (name == "no-library") libraryProblemFailsTheOpen(D2xxLibrary::LoadResult::LibraryMissing);
  else if (name == "missing-function") libraryProblemFailsTheOpen(D2xxLibrary::LoadResult::FunctionMissing);
  else return std::printf("unknown case '%s'\n", name.c_str()), 2;
  std::printf("%s: %d failed checks\n", name.c_str(), Check::failures);
  return Check::failures == 0 ? 0 : 1;
}
