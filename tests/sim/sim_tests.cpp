// The capture link against the stand-in driver library under Wine. Each run checks one case,
// named by the first argument, in a process of its own: the simulated device reads its
// set-up once, when it is first opened. Files are made in the working directory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "sim_check.h"
#include "test_pattern.h"
#include "usb_link.h"

#include <windows.h>

int SimCheck::failures = 0;

namespace {

using FrameDecoder::kCellsPerFrame;
using FrameDecoder::Result;
using StreamReader::RefillResult;

std::vector<uint8_t> history(FrameDecoder::kCellHistoryBytes);
std::vector<uint32_t> pixels(kBufferWidth * kBufferHeight);

void resetDecoder() {
  std::fill(history.begin(), history.end(), 0);
  std::fill(pixels.begin(), pixels.end(), 0);
  FrameDecoder::decoderState = {history.data(), 0};
  frameBuffer.pixels = pixels.data();
}

double seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
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
  DeleteFileA("device.log");
  SetEnvironmentVariableA("KESTRAVU_SIM_LOG", "device.log");
  SetEnvironmentVariableA("KESTRAVU_SIM_STREAM", stream);
  SetEnvironmentVariableA("KESTRAVU_SIM_FPS", framesPerSecond);
  SetEnvironmentVariableA("KESTRAVU_SIM_FAIL_AFTER", failAfter);
}

uint64_t frameChecksum() {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint64_t value) { hash = (hash ^ value) * 1099511628211ull; };
  for (int i = 0; i < kCellsPerFrame; ++i) mix(history[i]);
  for (uint32_t pixel : pixels) mix(pixel);
  return hash;
}

template <class Source>
std::vector<uint64_t> decodeAll(Source& source) {
  std::vector<uint64_t> checksums;
  Result result;
  while ((result = FrameDecoder::decodeFrame(source)) == Result::FrameComplete) checksums.push_back(frameChecksum());
  CHECK(result == Result::SourceFailed);
  return checksums;
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
  settings.bufsize = 100;
  resetDecoder();
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  StreamReader::DeviceSource device;
  const std::vector<uint64_t> viaLink = decodeAll(device);
  CHECK(StreamReader::readerState.lastRefill == RefillResult::TimedOut);
  CHECK_EQ(FrameDecoder::decoderState.byteCounter, static_cast<int32_t>(stream.size()));
  DeviceLink::close();

  resetDecoder();
  FrameDecoder::MemorySource memory{stream.data(), stream.size()};
  const std::vector<uint64_t> inMemory = decodeAll(memory);
  CHECK_EQ(inMemory.size(), size_t{31});
  CHECK(viaLink == inMemory);

  const std::vector<std::string> log = readLines("device.log");
  if (!CHECK(log.size() > 6)) return;
  CHECK_EQ(log[0], "FT_OpenEx description=KESTRAVU flags=2 -> 0 handle=1");
  CHECK_EQ(log[1], "FT_SetBitMode handle=1 mask=0 mode=0 -> 0");
  CHECK_EQ(log[2], "FT_SetUSBParameters handle=1 in=100 out=0 -> 0");
  CHECK_EQ(log[3], "FT_SetTimeouts handle=1 read=3000 write=3000 -> 0");
  const std::string readLine = "FT_Read handle=1 count=100 -> 0 received=";
  size_t received = 0;
  for (size_t i = 4; i + 1 < log.size(); ++i) {
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
  resetDecoder();
  const double rate = framesPerSecond == nullptr ? 60.0 : std::atof(framesPerSecond);
  std::vector<uint8_t> cells(kCellsPerFrame);
  const double start = seconds();
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  StreamReader::DeviceSource device;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    if (!CHECK(FrameDecoder::decodeFrame(device) == Result::FrameComplete)) return;
    renderPatternFrame(frame, cells.data());
    if (!CHECK(std::memcmp(history.data(), cells.data(), kCellsPerFrame) == 0)) {
      std::printf("frame %u differs from the pattern\n", frame);
      return;
    }
  }
  const double elapsed = seconds() - start;
  std::printf("%u frames in %.3f s\n", frames, elapsed);
  if (rate > 0) {
    const double expected = frames / rate;
    CHECK(elapsed > 0.8 * expected);
    CHECK(elapsed < 1.4 * expected);
  }
  DeviceLink::close();
}

// A read waits for the count or the time-out, then brings what arrived: here 10 bytes, then
// nothing; a repeated file comes round again at once.
void readsWaitForTheTimeOut() {
  writeFile("ten.kvs", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  setUpDevice("ten.kvs", "0", nullptr);
  if (!CHECK(D2xxLibrary::bind() == D2xxLibrary::BindResult::Bound)) return;
  const D2xxFunctions& d2xx = D2xxLibrary::functions;
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
  CHECK_EQ(d2xx.setTimeouts(handle, 0, 0), FT_OK);  // no waiting at all
  uint32_t received = 99;
  const double start = seconds();
  CHECK_EQ(d2xx.read(handle, buffer, 32, &received), FT_OK);
  CHECK_EQ(received, 0u);
  CHECK(seconds() - start < 0.25);
  CHECK_EQ(d2xx.close(handle), FT_OK);
}

void repeatedFileComesRound() {
  writeFile("ten.kvs", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  setUpDevice("ten.kvs", "0", nullptr);
  SetEnvironmentVariableA("KESTRAVU_SIM_LOOP", "1");
  settings.bufsize = 25;
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  for (int i = 0; i < 100; ++i) {
    uint8_t byte = 0;
    if (!CHECK_EQ(StreamReader::nextByte(byte), 0) || !CHECK_EQ(byte, i % 10 + 1)) break;
  }
  CHECK_EQ(StreamReader::readerState.fillCount, 25u);
}

// After the set number of bytes the device is gone: exactly those bytes, then error reads.
void deviceFailsAfterItsBytes() {
  setUpDevice(nullptr, "0", "1000");
  settings.bufsize = 64;
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  const std::vector<uint8_t> expected = patternFrames(1)[0];
  std::vector<uint8_t> served;
  uint8_t byte = 0;
  while (served.size() < 5000 && StreamReader::nextByte(byte) == 0) served.push_back(byte);
  CHECK_EQ(served.size(), size_t{1000});
  CHECK(std::equal(served.begin(), served.end(), expected.begin()));
  CHECK(StreamReader::readerState.lastRefill == RefillResult::ReadFailed);
  CHECK_EQ(StreamReader::readerState.lastReadStatus, FT_IO_ERROR);
  CHECK_EQ(StreamReader::nextByte(byte), 1);  // and it stays gone
  const std::vector<std::string> log = readLines("device.log");
  if (!CHECK(log.size() >= 3)) return;
  CHECK_EQ(log[log.size() - 3], "FT_Read handle=1 count=64 -> 0 received=40");  // 15 x 64 + 40
  CHECK_EQ(log[log.size() - 2], "FT_Read handle=1 count=64 -> 4 received=0");
  CHECK_EQ(log.back(), "FT_Read handle=1 count=64 -> 4 received=0");
}

// Only flag 2 with the exact description opens; only the open handle is accepted.
void onlyTheOpenDeviceAnswers() {
  setUpDevice(nullptr, "0", nullptr);
  if (!CHECK(D2xxLibrary::bind() == D2xxLibrary::BindResult::Bound)) return;
  const D2xxFunctions& d2xx = D2xxLibrary::functions;
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

  SetEnvironmentVariableA("KESTRAVU_SIM_ABSENT", "1");  // unplugged
  CHECK_EQ(d2xx.openEx(const_cast<char*>("KESTRAVU"), 2, &second), FT_DEVICE_NOT_FOUND);
}

void absentDeviceFailsTheOpen() {
  setUpDevice(nullptr, "0", nullptr);
  SetEnvironmentVariableA("KESTRAVU_SIM_ABSENT", "1");
  CHECK_EQ(DeviceLink::open(), 1);
  CHECK(DeviceLink::linkState.lastOpen == DeviceLink::OpenResult::DeviceNotFound);
  CHECK_EQ(DeviceLink::linkState.lastOpenStatus, FT_DEVICE_NOT_FOUND);
  CHECK_EQ(readLines("device.log"), std::vector<std::string>{"FT_OpenEx description=KESTRAVU flags=2 -> 2"});

  // Attached, but its stream file cannot be read: the open fails until the file is there.
  SetEnvironmentVariableA("KESTRAVU_SIM_ABSENT", "0");
  DeleteFileA("later.kvs");
  SetEnvironmentVariableA("KESTRAVU_SIM_STREAM", "later.kvs");
  CHECK_EQ(DeviceLink::open(), 1);
  CHECK_EQ(DeviceLink::linkState.lastOpenStatus, FT_DEVICE_NOT_OPENED);
  writeFile("later.kvs", {0x01, 0x81});
  CHECK_EQ(DeviceLink::open(), 0);
  uint8_t byte = 0;
  CHECK(StreamReader::nextByte(byte) == 0 && byte == 0x01);
}

// A reopen at a new size: the device's stream goes on where it was, leftovers first.
void reopenContinuesTheStream() {
  std::vector<uint8_t> stream(1000);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i * 7);
  writeFile("counting.kvs", stream);
  setUpDevice("counting.kvs", "0", nullptr);
  settings.bufsize = 32;
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  std::vector<uint8_t> served;
  uint8_t byte = 0;
  for (int i = 0; i < 27 && StreamReader::nextByte(byte) == 0; ++i) served.push_back(byte);
  settings.bufsize = 64;
  DeviceLink::reopen();
  while (served.size() < stream.size() && StreamReader::nextByte(byte) == 0) served.push_back(byte);
  CHECK(served == stream);
  const std::vector<std::string> log = readLines("device.log");
  const std::vector<std::string> expected = {
      "FT_Read handle=1 count=32 -> 0 received=32",   "FT_Close handle=1 -> 0",
      "FT_OpenEx description=KESTRAVU flags=2 -> 0 handle=2", "FT_SetBitMode handle=2 mask=0 mode=0 -> 0",
      "FT_SetUSBParameters handle=2 in=64 out=0 -> 0", "FT_SetTimeouts handle=2 read=3000 write=3000 -> 0",
      "FT_SetUSBParameters handle=2 in=64 out=0 -> 0", "FT_Read handle=2 count=64 -> 0 received=64"};
  if (!CHECK(log.size() >= 12)) return;
  CHECK(std::vector<std::string>(log.begin() + 4, log.begin() + 12) == expected);
  DeviceLink::close();
}

// KESTRAVU_SIM_OPENS=1: the first open succeeds, a reopen finds no device, and the reader then
// fails without reading; 0 refuses even the first open.
void opensBeyondTheLimitFail() {
  writeFile("short.kvs", {0x01, 0x81, 0x05, 0x10});
  setUpDevice("short.kvs", "0", nullptr);
  SetEnvironmentVariableA("KESTRAVU_SIM_OPENS", "1");
  settings.bufsize = 2;
  if (!CHECK_EQ(DeviceLink::open(), 0)) return;
  uint8_t byte = 0;
  CHECK(StreamReader::nextByte(byte) == 0 && byte == 0x01);
  settings.bufsize = 64;
  DeviceLink::reopen();
  CHECK(DeviceLink::linkState.lastOpen == DeviceLink::OpenResult::DeviceNotFound);
  CHECK_EQ(DeviceLink::linkState.lastOpenStatus, FT_DEVICE_NOT_FOUND);
  CHECK(StreamReader::nextByte(byte) == 0 && byte == 0x81);  // the leftover still comes
  CHECK_EQ(StreamReader::nextByte(byte), 1);
  CHECK(StreamReader::readerState.lastRefill == RefillResult::NotOpen);
  const std::vector<std::string> log = readLines("device.log");
  if (CHECK(log.size() >= 7)) {
    CHECK_EQ(log[5], std::string("FT_Close handle=1 -> 0"));
    CHECK_EQ(log[6], std::string("FT_OpenEx description=KESTRAVU flags=2 -> 2"));
  }
  CHECK_EQ(log.size(), 7u);  // nothing else is asked of a device that is not there

  SetEnvironmentVariableA("KESTRAVU_SIM_OPENS", "2");  // read at every open: one more allowed
  CHECK_EQ(DeviceLink::open(), 0);
  DeviceLink::close();
  SetEnvironmentVariableA("KESTRAVU_SIM_OPENS", "0");
  CHECK_EQ(DeviceLink::open(), 1);
}

// Run from a folder without the library, or beside one that lacks an ordinal.
void libraryProblemFailsTheOpen(DeviceLink::OpenResult expected) {
  CHECK_EQ(DeviceLink::open(), 1);
  CHECK_EQ(static_cast<int>(DeviceLink::linkState.lastOpen), static_cast<int>(expected));
  uint8_t byte = 0;
  CHECK_EQ(StreamReader::nextByte(byte), 1);
  CHECK(StreamReader::readerState.lastRefill == RefillResult::NotOpen);
  DeviceLink::reopen();
  DeviceLink::close();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
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
  else if (name == "no-library") libraryProblemFailsTheOpen(DeviceLink::OpenResult::LibraryMissing);
  else if (name == "missing-function") libraryProblemFailsTheOpen(DeviceLink::OpenResult::FunctionMissing);
  else return std::printf("unknown case '%s'\n", name.c_str()), 2;
  std::printf("%s: %d failed checks\n", name.c_str(), SimCheck::failures);
  return SimCheck::failures == 0 ? 0 : 1;
}
