// usb-chip: the capture device's USB chip, emulated and plugged into this machine's virtual USB
// host controller (vhci-hcd), so that the kernel, its drivers, libusb and libftdi1 see a real
// USB device. The program makes a socket pair, hands one end to vhci through its sysfs attach
// file (no network, no USB/IP tools), serves the device on the other end and unplugs it when
// told or when it ends. Run as root, with vhci-hcd loaded.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "usbip_device.h"

namespace {

constexpr const char* kVhci = "/sys/devices/platform/vhci_hcd.0/";
constexpr const char* kUsage =
    "usage: usb-chip [options]\n"
    "  --product TEXT    product string (KESTRAVU)\n"
    "  --pid HEX         product id (6001; 6014 with --high-speed)\n"
    "  --serial TEXT     serial number (KV000001)\n"
    "  --high-speed      a high-speed chip: 512-byte packets, 1 KiB buffer\n"
    "  --buffer BYTES    the chip's receive buffer (256; 1024 high speed)\n"
    "  --stream FILE     send a stream file once (the test pattern by default)\n"
    "  --loop            send the stream file over and over\n"
    "  --fps N           frames a second on average (60): sets the byte rate\n"
    "  --rate BYTES      the byte rate itself, in bytes a second\n"
    "  --stop-at S       the stream stops after S seconds; the device stays\n"
    "  --stall-at S      bulk IN stalls after S seconds\n"
    "  --unplug-at S     unplugged after S seconds (or at SIGUSR1)\n"
    "  --log FILE        requests, drops and figures, one line each (stderr)\n"
    "  --sent FILE       the stream bytes that went out to the host, in order\n";

volatile std::sig_atomic_t stopRequested = 0, unplugRequested = 0;

struct Options {
  DeviceIdentity identity;
  StreamSource source;
  UsbChip::Settings chip;
  double unplugAt = -1;
  std::string logPath, sentPath;
};

UsbChip::Clock::duration seconds(double value) {
  return std::chrono::duration_cast<UsbChip::Clock::duration>(std::chrono::duration<double>(value));
}

bool parse(int argc, char** argv, Options& options) {
  options.chip.bufferBytes = 0;
  options.identity.productId = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--high-speed") { options.identity.highSpeed = true; continue; }
    if (name == "--loop") { options.source.loop = true; continue; }
    if (i + 1 == argc) return false;
    const std::string value = argv[++i];
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    const bool isNumber = *end == '\0' && number >= 0;
    if (name == "--product") options.identity.product = value;
    else if (name == "--serial") options.identity.serial = value;
    else if (name == "--pid") options.identity.productId = static_cast<uint16_t>(std::strtoul(value.c_str(), nullptr, 16));
    else if (name == "--stream") options.source.file = value;
    else if (name == "--log") options.logPath = value;
    else if (name == "--sent") options.sentPath = value;
    else if (!isNumber) return false;
    else if (name == "--buffer") options.chip.bufferBytes = static_cast<uint32_t>(number);
    else if (name == "--fps") options.source.framesPerSecond = static_cast<uint32_t>(number);
    else if (name == "--rate") options.source.bytesPerSecond = static_cast<uint32_t>(number);
    else if (name == "--stop-at") options.chip.stopAt = seconds(number);
    else if (name == "--stall-at") options.chip.stallAt = seconds(number);
    else if (name == "--unplug-at") options.unplugAt = number;
    else return false;
  }
  // Unset (0), they follow the chip: an FT232R at full speed, an FT232H at high speed.
  const bool high = options.identity.highSpeed;
  if (high) options.chip.packetBytes = 512;
  if (options.chip.bufferBytes == 0) options.chip.bufferBytes = high ? 1024 : 256;
  if (options.identity.productId == 0) options.identity.productId = high ? 0x6014 : 0x6001;
  return true;
}

bool writeSysfs(const std::string& file, const std::string& text) {
  std::ofstream out(kVhci + file);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

// A free port of vhci's USB 2 hub ("hs"; state 4 is free), or -1.
int freePort() {
  std::ifstream status(std::string(kVhci) + "status");
  std::string line;
  std::getline(status, line);  // the heading
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string hub;
    int port = -1, state = -1;
    if (fields >> hub >> port >> state && hub == "hs" && state == 4) return port;
  }
  return -1;
}

double wallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// How long the loop may wait for the host: until the chip could finish the transfer in front,
// or a little while when none waits; the chip catches up on the time anyway.
int waitMs(const UsbChip& chip, UsbChip::Clock::time_point start, double unplugAt) {
  const auto untilFinish = std::chrono::duration_cast<std::chrono::milliseconds>(chip.untilFrontFinishes());
  int wait = static_cast<int>(std::max<long long>(1, std::min<long long>(untilFinish.count(), 10)));
  if (unplugAt >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + seconds(unplugAt) - UsbChip::Clock::now());
    wait = static_cast<int>(std::max<long long>(0, std::min<long long>(wait, left.count())));
  }
  return wait;
}

int serve(const Options& options, StreamSource& source, FILE* log, FILE* sent) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return std::perror("usb-chip: socketpair"), 1;
  const int port = freePort();
  const uint32_t deviceId = 1u << 16 | static_cast<uint32_t>(port + 2);
  const int speed = options.identity.highSpeed ? 3 : 2;
  const auto start = UsbChip::Clock::now();
  if (port < 0 || !writeSysfs("attach", std::to_string(port) + " " + std::to_string(pair[1]) + " " +
                                            std::to_string(deviceId) + " " + std::to_string(speed))) {
    std::fprintf(stderr, "usb-chip: no free port to attach to (is vhci-hcd loaded?)\n");
    return 1;
  }
  ::close(pair[1]);  // the kernel holds its own reference
  std::fprintf(log, "attached port=%d product=%s buffer=%u rate=%u bytes/s\n", port, options.identity.product.c_str(),
               options.chip.bufferBytes, source.bytesPerSecond);
  UsbChip chip(source, options.chip, start, log, sent);
  UsbipDevice device(pair[0], options.identity, chip, log);
  bool attached = true;
  while (attached && !stopRequested) {
    if (unplugRequested || (options.unplugAt >= 0 && UsbChip::Clock::now() >= start + seconds(options.unplugAt)))
      break;
    pollfd ready{pair[0], POLLIN, 0};
    const int polled = poll(&ready, 1, waitMs(chip, start, options.unplugAt));
    chip.advanceTo(UsbChip::Clock::now());
    attached = device.sendFinished();
    if (attached && polled > 0) attached = device.serveCommand();
  }
  if (attached) {
    writeSysfs("detach", std::to_string(port));
    std::fprintf(log, "unplugged at %.3f\n", wallClock());
  } else {
    std::fprintf(log, "the host let go\n");
  }
  chip.close();
  ::close(pair[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) return std::fputs(kUsage, stderr), 2;
  std::string error;
  if (!options.source.load(error)) return std::fprintf(stderr, "usb-chip: %s\n", error.c_str()), 2;
  FILE* log = options.logPath.empty() ? stderr : std::fopen(options.logPath.c_str(), "a");
  FILE* sent = options.sentPath.empty() ? nullptr : std::fopen(options.sentPath.c_str(), "wb");
  if (log == nullptr || (!options.sentPath.empty() && sent == nullptr))
    return std::perror("usb-chip: log"), 2;
  setvbuf(log, nullptr, _IOLBF, 0);
  // Its size is the count of bytes sent so far, which a test compares with the host's.
  if (sent != nullptr) setvbuf(sent, nullptr, _IONBF, 0);
  struct sigaction onStop {};
  onStop.sa_handler = [](int) { stopRequested = 1; };
  sigaction(SIGTERM, &onStop, nullptr);
  sigaction(SIGINT, &onStop, nullptr);
  struct sigaction onUnplug {};
  onUnplug.sa_handler = [](int) { unplugRequested = 1; };
  sigaction(SIGUSR1, &onUnplug, nullptr);
  const int status = serve(options, options.source, log, sent);
  if (sent != nullptr) std::fclose(sent);
  return status;
}
