// usb-chip: the capture device's USB chip, emulated and plugged into this machine's virtual USB
// host controller (vhci-hcd), so that the kernel, its drivers, libusb and libftdi1 see a real
// USB device. The program makes a socket pair, hands one end to vhci through its sysfs attach
// file (no network, no USB/IP tools), serves the device on the other end and unplugs it when
// told or when it ends; told so, it plugs the same chip in again after a while. Several can run
// at once, each on a port of its own. Run as root, with vhci-hcd loaded.
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
    "  --replug-after S  after an unplug, plugged in again S seconds later (or at\n"
    "                    SIGUSR2), as the same device; the stream goes on meanwhile\n"
    "  --log FILE        requests, drops and figures, one line each (stderr)\n"
    "  --sent FILE       the stream bytes that went out to the host, in order\n";

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t unplugRequested = 0;
volatile std::sig_atomic_t replugRequested = 0;
// Another usb-chip may take the port found free first.
constexpr int kAttachTries = 10;

struct Options {
  DeviceIdentity identity;
  StreamSource source;
  UsbChip::Config chip;
  double unplugAt = -1;
  double replugAfter = -1;
  std::string logPath, sentPath;
};

UsbChip::Time::duration seconds(double value) {
  return std::chrono::duration_cast<UsbChip::Time::duration>(std::chrono::duration<double>(value));
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
    else if (name == "--replug-after") options.replugAfter = number;
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
int waitMs(const UsbChip& chip, UsbChip::Time::time_point start, double unplugAt) {
  const auto untilFinish = std::chrono::duration_cast<std::chrono::milliseconds>(chip.untilFrontFinishes());
  int wait = static_cast<int>(std::max<long long>(1, std::min<long long>(untilFinish.count(), 10)));
  if (unplugAt >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + seconds(unplugAt) - UsbChip::Time::now());
    wait = static_cast<int>(std::max<long long>(0, std::min<long long>(wait, left.count())));
  }
  return wait;
}

// Hands one end of a new socket pair to vhci on a free port; returns the other end, or -1.
int attach(const Options& options, int& port, FILE* log) {
  const int speed = options.identity.highSpeed ? 3 : 2;
  for (int attempt = 0; attempt < kAttachTries; ++attempt) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
      std::perror("usb-chip: socketpair");
      return -1;
    }
    port = freePort();
    const uint32_t deviceId = 1u << 16 | static_cast<uint32_t>(port + 2);
    const bool attached = port >= 0 && writeSysfs("attach", std::to_string(port) + " " + std::to_string(pair[1]) + " " +
                                                                std::to_string(deviceId) + " " + std::to_string(speed));
    ::close(pair[1]);  // once attached, the kernel holds its own reference
    if (attached) {
      std::fprintf(log, "attached port=%d product=%s serial=%s buffer=%u at %.3f\n", port,
                   options.identity.product.c_str(), options.identity.serial.c_str(), options.chip.bufferBytes,
                   wallClock());
      return pair[0];
    }
    ::close(pair[0]);
    usleep(50000);
  }
  std::fprintf(stderr, "usb-chip: no free port to attach to (is vhci-hcd loaded?)\n");
  return -1;
}

// Serves the host until it lets go, an unplug is asked for or the program is to end; true when
// it is still attached (and to be unplugged).
bool serveAttached(int socket, const Options& options, double unplugAt, UsbChip& chip,
                   UsbChip::Time::time_point start, FILE* log) {
  UsbipDevice device(socket, options.identity, chip, log);
  while (!stopRequested) {
    if (unplugRequested || (unplugAt >= 0 && UsbChip::Time::now() >= start + seconds(unplugAt))) return true;
    pollfd ready{socket, POLLIN, 0};
    const int polled = poll(&ready, 1, waitMs(chip, start, unplugAt));
    chip.advanceTo(UsbChip::Time::now());
    if (!device.sendFinished()) return false;
    if (polled > 0 && !device.serveCommand()) return false;
  }
  return true;
}

// Unplugged, the stream goes on arriving, into a chip without power: caught up with at once when
// it is plugged in again, and lost.
void waitUnplugged(const Options& options, UsbChip& chip) {
  const auto replugAt = UsbChip::Time::now() + seconds(options.replugAfter);
  while (!stopRequested && !replugRequested && UsbChip::Time::now() < replugAt) usleep(10000);
  chip.advanceTo(UsbChip::Time::now());
  chip.powerCycle();
}

int serve(const Options& options, StreamSource& source, FILE* log, FILE* sent) {
  const auto start = UsbChip::Time::now();
  UsbChip chip(source, options.chip, start, log, sent);
  std::fprintf(log, "rate=%u bytes/s\n", source.bytesPerSecond);
  double unplugAt = options.unplugAt;  // the first plug's
  for (;;) {
    int port = -1;
    const int socket = attach(options, port, log);
    if (socket < 0) return 1;
    const bool attached = serveAttached(socket, options, unplugAt, chip, start, log);
    unplugAt = -1;
    if (attached) {
      writeSysfs("detach", std::to_string(port));
      std::fprintf(log, "unplugged at %.3f\n", wallClock());
    } else {
      std::fprintf(log, "the host let go\n");
    }
    ::close(socket);
    chip.powerCycle();
    unplugRequested = 0;
    replugRequested = 0;
    if (!attached || stopRequested || options.replugAfter < 0) break;
    waitUnplugged(options, chip);
    if (stopRequested) break;
  }
  chip.logTotals();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string error;
  if (!options.source.load(error)) {
    std::fprintf(stderr, "usb-chip: %s\n", error.c_str());
    return 2;
  }
  FILE* log = options.logPath.empty() ? stderr : std::fopen(options.logPath.c_str(), "a");
  FILE* sent = options.sentPath.empty() ? nullptr : std::fopen(options.sentPath.c_str(), "wb");
  if (log == nullptr || (!options.sentPath.empty() && sent == nullptr)) {
    std::perror("usb-chip: log");
    return 2;
  }
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
  struct sigaction onReplug {};
  onReplug.sa_handler = [](int) { replugRequested = 1; };
  sigaction(SIGUSR2, &onReplug, nullptr);
  const int status = serve(options, options.source, log, sent);
  if (sent != nullptr) std::fclose(sent);
  return status;
}
