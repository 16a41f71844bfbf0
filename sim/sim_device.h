// The simulated capture device: one "KESTRAVU" device whose stream is the built-in test pattern,
// endlessly, or a stream file, once or repeated, released frame by frame at a set rate. Served
// as a stand-in driver library (FTD2XX.dll, libftd2xx.so) or linked in (sim_link.h). Set up by
// environment variables when first opened:
//   KESTRAVU_SIM_ABSENT=1      no device is attached (checked at every open)
//   KESTRAVU_SIM_STREAM=PATH   send that stream file, then fall silent
//   KESTRAVU_SIM_LOOP=1        send the stream file over and over
//   KESTRAVU_SIM_FPS=N         frames a second, default 60; 0 sends as fast as reads come
//   KESTRAVU_SIM_RATE=N        N bytes a second instead, whatever the stream holds (junk without
//                              frames too); the chip keeps at most kRateBacklogBytes unread
//   KESTRAVU_SIM_FAIL_AFTER=N  after N bytes every read fails, as when the device is unplugged
//   KESTRAVU_SIM_OPENS=N       only the first N opens succeed; later ones find no device, as
//                              when it is unplugged while closed (checked at every open)
//   KESTRAVU_SIM_SERIAL=TEXT   the device's USB serial number (KVSIM001), which opens it too and
//                              which the device list gives
//   KESTRAVU_SIM_LOG=PATH      append one line per driver call, flushed at once:
//     FT_OpenEx description=KESTRAVU flags=2 -> 0 handle=1
//     FT_SetBitMode handle=1 mask=0 mode=0 -> 0
//     FT_SetUSBParameters handle=1 in=32 out=0 -> 0
//     FT_SetTimeouts handle=1 read=3000 write=3000 -> 0
//     FT_Read handle=1 count=32 -> 0 received=32
//     FT_Close handle=1 -> 0
//     FT_CreateDeviceInfoList -> 0 count=1
//     FT_GetDeviceInfoDetail index=0 -> 0 serial=KVSIM001 description=KESTRAVU
// An empty variable counts as unset. Statuses: 1 handle not open, 2 no such device, 3 device in
// use or its stream file unreadable, 4 device gone. A read waits for its count until the read
// time-out (none until one is set). Used from one thread at a time, like the program it serves.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "frame_source.h"

namespace SimDevice {

constexpr uint32_t kDefaultFramesPerSecond = 60;
// What a byte-paced device holds for a reader that fell behind: more is not sent.
constexpr uint64_t kRateBacklogBytes = 4096;

// Everything the device and its driver keep. A driver library has one such record per process,
// and so has the simulated device: `device`, below.
struct DeviceState {
  bool pluggedIn = false;   // set up at the first open that succeeds
  uint32_t openHandle = 0;  // number of the open handle, 0 while closed
  uint32_t handlesIssued = 0;
  uint32_t readTimeoutMs = 0;  // until set, a read returns at once with what has arrived

  FrameSource source;  // what the device sends

  // The released frame being delivered, and when the next one is released.
  const uint8_t* frame = nullptr;
  size_t frameSize = 0;
  size_t framePosition = 0;
  bool silent = false;  // the stream file has been sent
  std::chrono::steady_clock::duration framePeriod{};  // zero: unpaced
  std::chrono::steady_clock::time_point nextRelease{};
  uint64_t bytesPerSecond = 0;  // KESTRAVU_SIM_RATE; 0: paced by frames
  std::chrono::steady_clock::time_point rateStart{};
  uint64_t rateBytesSent = 0;  // since rateStart: collected, or lost past the backlog

  uint64_t bytesDelivered = 0;
  int64_t failAfterBytes = -1;  // -1: never fails

  FILE* log = nullptr;  // KESTRAVU_SIM_LOG, opened at the first driver call
  bool logChecked = false;
};

extern DeviceState device;

// Reads the set-up and allocates the stream's buffers; false when the stream file cannot be
// read or memory is short.
bool plugIn();

// Copies up to `count` bytes that have arrived by now into `out`; returns how many.
size_t collectArrived(uint8_t* out, size_t count);

// Collects bytes into `out` until `count` have arrived or `timeoutMs` have passed; returns how
// many arrived.
size_t waitForArrivals(uint8_t* out, size_t count, uint32_t timeoutMs);

// Whether environment variable `name` holds a whole number other than 0.
bool flagSet(const char* name);

// Whether KESTRAVU_SIM_OPENS has used up the opens it allows.
bool opensUsedUp();

// The value of environment variable `name`, or null when it is unset or empty.
const char* setting(const char* name);

}  // namespace SimDevice
