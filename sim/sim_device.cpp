#include "sim_device.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace SimDevice {

DeviceState device;

int64_t nowTicks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t ticksPerSecond() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

bool environment(const char* name, char* out, uint32_t capacity) {
  DWORD length = GetEnvironmentVariableA(name, out, capacity);
  return length > 0 && length < capacity;
}

namespace {

// A whole non-negative number, or `fallback` when the text is anything else.
int64_t numberOr(const char* name, int64_t fallback) {
  char text[32];
  if (!environment(name, text, sizeof text)) return fallback;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  return end != text && *end == '\0' && value >= 0 ? value : fallback;
}

}  // namespace

bool flagSet(const char* name) { return numberOr(name, 0) != 0; }

bool opensUsedUp() {
  int64_t allowed = numberOr("KESTRAVU_SIM_OPENS", -1);
  return allowed >= 0 && static_cast<int64_t>(device.handlesIssued) >= allowed;
}

namespace {

int loadFile(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 1;
  long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  std::rewind(file);
  device.fileBytes = size > 0 ? static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))) : nullptr;
  bool complete = size == 0 || (device.fileBytes != nullptr &&
                                std::fread(device.fileBytes, 1, static_cast<size_t>(size), file) ==
                                    static_cast<size_t>(size));
  std::fclose(file);
  device.fileSize = complete && size > 0 ? static_cast<size_t>(size) : 0;
  if (!complete) std::free(device.fileBytes), device.fileBytes = nullptr;
  return complete ? 0 : 1;
}

// The next frame of the stream becomes the one being delivered; false when there is none.
bool releaseFrame() {
  if (device.sendsPattern) {
    device.frameSize = nextPatternFrame(*device.pattern, device.patternFrame);
    device.frame = device.patternFrame;
  } else {
    if (device.fileOffset == device.fileSize && device.loopFile) device.fileOffset = 0;
    if (device.fileOffset == device.fileSize) {
      device.silent = true;
      return false;
    }
    size_t end = frameEnd(device.fileBytes, device.fileSize, device.fileOffset);
    device.frame = device.fileBytes + device.fileOffset;
    device.frameSize = end - device.fileOffset;
    device.fileOffset = end;
  }
  device.framePosition = 0;
  return true;
}

// A frame is released when its time has come. A reader that fell behind gets at most about
// two frames at once, as a real device drops what its host did not collect in time.
bool releaseDueFrame() {
  if (device.silent) return false;
  if (device.ticksPerFrame > 0) {
    int64_t now = nowTicks();
    if (now < device.nextReleaseTicks) return false;
    device.nextReleaseTicks = std::max(device.nextReleaseTicks + device.ticksPerFrame, now - device.ticksPerFrame);
  }
  return releaseFrame();
}

}  // namespace

size_t frameEnd(const uint8_t* data, size_t size, size_t start) {
  size_t at = start;
  uint8_t previous = 0;
  while (at < size) {  // the marker: KIND 0x81, KIND 0x00 or 0x01
    uint8_t byte = data[at++];
    if (byte == FrameDecoder::kMarker && previous <= FrameDecoder::kKeyFrame) break;
    previous = byte;
  }
  int cells = 0;
  while (at + 2 <= size) {
    uint8_t value = data[at], count = data[at + 1];
    at += 2;
    if (value == FrameDecoder::kKeyFrame && count == FrameDecoder::kMarker) {
      cells = 0;  // the frame starts again
      continue;
    }
    cells += count == 0 ? 256 : count;
    if (cells >= FrameDecoder::kCellsPerFrame) return at;
  }
  return size;
}

int plugIn() {
  char path[MAX_PATH + 1];
  if (environment("KESTRAVU_SIM_STREAM", path, sizeof path)) {
    device.sendsPattern = false;
    device.loopFile = flagSet("KESTRAVU_SIM_LOOP");
    if (loadFile(path) != 0) return 1;
  } else {
    device.pattern = static_cast<TestPattern*>(std::calloc(1, sizeof(TestPattern)));
    device.patternFrame = static_cast<uint8_t*>(std::malloc(kMaxEncodedFrameBytes));
    if (device.pattern == nullptr || device.patternFrame == nullptr) return 1;
  }
  int64_t framesPerSecond = numberOr("KESTRAVU_SIM_FPS", kDefaultFramesPerSecond);
  device.ticksPerFrame = framesPerSecond > 0 ? ticksPerSecond() / framesPerSecond : 0;
  device.nextReleaseTicks = nowTicks();
  device.failAfterBytes = numberOr("KESTRAVU_SIM_FAIL_AFTER", -1);
  device.pluggedIn = true;
  return 0;
}

size_t takeArrived(uint8_t* out, size_t count) {
  size_t taken = 0;
  while (taken < count) {
    if (device.framePosition == device.frameSize) {
      if (!releaseDueFrame()) break;
      continue;
    }
    size_t part = std::min(count - taken, device.frameSize - device.framePosition);
    std::memcpy(out + taken, device.frame + device.framePosition, part);
    device.framePosition += part, taken += part;
  }
  device.bytesDelivered += taken;
  return taken;
}

}  // namespace SimDevice
