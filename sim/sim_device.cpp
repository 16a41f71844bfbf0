#include "sim_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace SimDevice {

using std::chrono::steady_clock;

DeviceState device;

const char* setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

namespace {

// A whole non-negative number, or `fallback` when the variable holds anything else.
int64_t numberOr(const char* name, int64_t fallback) {
  const char* text = setting(name);
  if (text == nullptr) return fallback;
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

// The next frame of the stream becomes the one being delivered; false when there is none.
bool releaseFrame() {
  if (!device.source.nextFrame(device.frame, device.frameSize)) {
    device.silent = true;
    return false;
  }
  device.framePosition = 0;
  return true;
}

// A frame is released when its time has come. A reader that fell behind gets at most about
// two frames at once, as a real device drops what its host did not collect in time.
bool releaseDueFrame() {
  if (device.silent) return false;
  if (device.framePeriod > steady_clock::duration::zero()) {
    steady_clock::time_point now = steady_clock::now();
    if (now < device.nextRelease) return false;
    device.nextRelease = std::max(device.nextRelease + device.framePeriod, now - device.framePeriod);
  }
  return releaseFrame();
}

}  // namespace

bool plugIn() {
  const char* path = setting("KESTRAVU_SIM_STREAM");
  const bool loaded = path != nullptr ? device.source.useFile(path, flagSet("KESTRAVU_SIM_LOOP"))
                                      : device.source.usePattern();
  if (!loaded) return false;
  int64_t framesPerSecond = numberOr("KESTRAVU_SIM_FPS", kDefaultFramesPerSecond);
  device.framePeriod = steady_clock::duration::zero();
  if (framesPerSecond > 0)
    device.framePeriod = std::chrono::duration_cast<steady_clock::duration>(
        std::chrono::nanoseconds(1000000000 / framesPerSecond));
  device.nextRelease = steady_clock::now();
  device.bytesPerSecond = static_cast<uint64_t>(numberOr("KESTRAVU_SIM_RATE", 0));
  if (device.bytesPerSecond > 0) device.framePeriod = steady_clock::duration::zero();
  device.rateStart = device.nextRelease;
  device.rateBytesSent = 0;
  device.failAfterBytes = numberOr("KESTRAVU_SIM_FAIL_AFTER", -1);
  device.bytesDelivered = 0;
  device.frameSize = device.framePosition = 0;
  device.silent = false;
  device.pluggedIn = true;
  return true;
}

namespace {

// Under a byte pace, how many bytes have arrived and wait to be collected.
size_t bytesPaced(size_t count) {
  if (device.bytesPerSecond == 0) return count;
  const uint64_t elapsedNs = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(steady_clock::now() - device.rateStart).count());
  const uint64_t sent = elapsedNs / 1000 * device.bytesPerSecond / 1000000;
  device.rateBytesSent = std::max(device.rateBytesSent, sent - std::min(sent, kRateBacklogBytes));
  return static_cast<size_t>(std::min<uint64_t>(count, sent - device.rateBytesSent));
}

}  // namespace

size_t collectArrived(uint8_t* out, size_t wanted) {
  const size_t count = bytesPaced(wanted);
  size_t collected = 0;
  while (collected < count) {
    if (device.framePosition == device.frameSize) {
      if (!releaseDueFrame()) break;
      continue;
    }
    size_t part = std::min(count - collected, device.frameSize - device.framePosition);
    std::memcpy(out + collected, device.frame + device.framePosition, part);
    device.framePosition += part;
    collected += part;
  }
  device.bytesDelivered += collected;
  device.rateBytesSent += collected;
  return collected;
}

// Nothing arrives between two frame releases, so a waiting read sleeps until the next one (or
// its deadline) instead of polling: the device's own cost must not blur a viewer's measured CPU.
size_t waitForArrivals(uint8_t* out, size_t count, uint32_t timeoutMs) {
  const steady_clock::time_point deadline = steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t collected = collectArrived(out, count);
  while (collected < count && steady_clock::now() < deadline) {
    steady_clock::time_point wake = deadline;
    if (device.framePeriod > steady_clock::duration::zero() && !device.silent) wake = device.nextRelease;
    if (device.bytesPerSecond > 0 && !device.silent)
      wake = steady_clock::now() + std::chrono::microseconds((count - collected) * 1000000 / device.bytesPerSecond);
    std::this_thread::sleep_until(std::min(deadline, wake));
    collected += collectArrived(out + collected, count - collected);
  }
  return collected;
}

}  // namespace SimDevice
