// The Linux link's choice of device as a command, for the cases in the virtual machine:
//   device_probe list                  the attached KESTRAVU devices' serial numbers, a line each
//   device_probe read SERIAL BYTES     opens that device and writes that many of its stream bytes
//                                      to stdout (exit code 1 when it cannot)
//   device_probe watch SECONDS         prints "changed SECONDS.MILLISECONDS" (wall clock) for each
//                                      news of the device watch, for that long
#include <poll.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux_link.h"

namespace {

double wallClock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) + now.tv_usec / 1e6;
}

int readDevice(LinuxLink& link, const char* serial, long count) {
  link.chooseSerial(serial);
  if (link.open(256) != OpenResult::Opened) return 1;
  uint8_t bytes[256];
  for (long left = count; left > 0;) {
    uint32_t received = 0;
    const uint32_t wanted = static_cast<uint32_t>(left < 256 ? left : 256);
    if (link.read(bytes, wanted, received) != ReadResult::BytesArrived) return 1;
    std::fwrite(bytes, 1, received, stdout);
    left -= received;
  }
  return 0;
}

int watch(LinuxLink& link, double seconds) {
  std::unique_ptr<DeviceWatch> watch = link.watchDevices();
  if (watch == nullptr) return 1;
  const double end = wallClock() + seconds;
  for (double now = wallClock(); now < end; now = wallClock()) {
    pollfd ready{watch->descriptor(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>((end - now) * 1000) + 1) == 1 && watch->changed())
      std::printf("changed %.3f\n", wallClock());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SteadyClock clock;
  std::unique_ptr<LinuxLink> link = makeLinuxLink(clock);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "list" && argc == 2) {
    for (const std::string& serial : link->attachedSerials()) std::printf("%s\n", serial.c_str());
    return 0;
  }
  if (command == "read" && argc == 4) return readDevice(*link, argv[2], std::atol(argv[3]));
  if (command == "watch" && argc == 3) return watch(*link, std::atof(argv[2]));
  std::fputs("usage: device_probe list | read SERIAL BYTES | watch SECONDS\n", stderr);
  return 2;
}
