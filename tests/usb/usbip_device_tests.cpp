// The emulated chip's USB/IP framing, with the test as the kernel's virtual host controller on
// the other end of a socket pair: a header field read or written at the wrong place would
// otherwise show only as a device the kernel drops in the virtual machine.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <vector>

#include "usbip_device.h"

namespace {

constexpr uint32_t kIn = 1;
constexpr uint32_t kOut = 0;
using SetupPacket = std::array<uint8_t, 8>;

void putWord(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t word(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

struct Reply {
  uint32_t command = 0;
  uint32_t sequence = 0;
  int32_t status = 0;
  uint32_t actualLength = 0;
  std::vector<uint8_t> data;
};

// The kernel's side: CMD_SUBMIT and CMD_UNLINK as vhci writes them, replies as it reads them.
struct UsbipTest : ::testing::Test {
  StreamSource source;
  UsbChip::Time::time_point start = UsbChip::Time::now();
  std::unique_ptr<UsbChip> chip;
  FILE* log = std::tmpfile();
  int sockets[2] = {-1, -1};
  std::unique_ptr<UsbipDevice> device;

  void SetUp() override {
    source.bytesPerSecond = 100000;
    std::string error;
    ASSERT_TRUE(source.load(error));
    chip = std::make_unique<UsbChip>(source, UsbChip::Config{}, start, nullptr, nullptr);
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    // A framing fault must fail a read, not hang either side.
    const timeval patience{5, 0};
    for (int socket : sockets) setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    device = std::make_unique<UsbipDevice>(sockets[0], DeviceIdentity{}, *chip, log);
  }
  void TearDown() override {
    for (int socket : sockets) ::close(socket);
    std::fclose(log);
  }

  void send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(sockets[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void submit(uint32_t sequence, uint32_t direction, uint32_t endpoint, uint32_t length, SetupPacket setup = {},
              const std::vector<uint8_t>& out = {}) {
    std::vector<uint8_t> header(48, 0);
    putWord(header, 0, 1);
    putWord(header, 4, sequence);
    putWord(header, 8, 1 << 16 | 2);  // bus 1, device 2
    putWord(header, 12, direction);
    putWord(header, 16, endpoint);
    putWord(header, 24, length);
    std::copy(setup.begin(), setup.end(), header.begin() + 40);
    header.insert(header.end(), out.begin(), out.end());
    send(header);
  }
  void unlink(uint32_t sequence, uint32_t target) {
    std::vector<uint8_t> header(48, 0);
    putWord(header, 0, 2);
    putWord(header, 4, sequence);
    putWord(header, 20, target);
    send(header);
  }
  bool readAll(uint8_t* bytes, size_t count) {
    while (count > 0) {
      const ssize_t got = ::read(sockets[1], bytes, count);
      if (got <= 0) return false;
      bytes += got;
      count -= static_cast<size_t>(got);
    }
    return true;
  }
  // The next reply; the data of an IN transfer follows its RET_SUBMIT header.
  Reply receive(bool in) {
    uint8_t header[48];
    Reply reply;
    if (!readAll(header, sizeof header)) {
      ADD_FAILURE() << "no reply";
      return reply;
    }
    reply.command = word(header);
    reply.sequence = word(header + 4);
    reply.status = static_cast<int32_t>(word(header + 20));
    reply.actualLength = word(header + 24);
    if (in && reply.command == 3) {
      reply.data.resize(reply.actualLength);
      if (!readAll(reply.data.data(), reply.data.size())) ADD_FAILURE() << "short data";
    }
    return reply;
  }
  // Serves one command and takes the reply to it.
  Reply exchange(bool in) {
    EXPECT_TRUE(device->serveCommand());
    return receive(in);
  }
};

// Control requests come back under their own sequence numbers with status and data where vhci
// reads them; a bulk OUT transfer's data, longer than any buffer the device reads it in, is
// taken whole, so the next header is read where it starts.
TEST_F(UsbipTest, ControlAndBulkOutRepliesKeepTheFraming) {
  submit(5, kOut, 2, 10000, {}, std::vector<uint8_t>(10000, 0xa5));
  Reply reply = exchange(false);
  EXPECT_EQ(reply.command, 3u);
  EXPECT_EQ(reply.sequence, 5u);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.actualLength, 10000u);

  submit(6, kIn, 0, 64, {0x80, 6, 0, 1, 0, 0, 64, 0});  // GET_DESCRIPTOR device, 64 bytes
  reply = exchange(true);
  EXPECT_EQ(reply.sequence, 6u);
  EXPECT_EQ(reply.status, 0);
  ASSERT_EQ(reply.data.size(), 18u);
  EXPECT_EQ(reply.data[1], 1);  // a device descriptor
  EXPECT_EQ(std::vector<uint8_t>(reply.data.begin() + 8, reply.data.begin() + 12),
            (std::vector<uint8_t>{0x03, 0x04, 0x01, 0x60}));  // 0403:6001, little-endian

  submit(7, kOut, 0, 0, {0x40, 0x09, 5, 0, 1, 0, 0, 0});  // vendor: latency timer 5 ms
  reply = exchange(false);
  EXPECT_EQ(reply.sequence, 7u);
  EXPECT_EQ(reply.status, 0);
  submit(8, kIn, 0, 1, {0xc0, 0x0a, 0, 0, 1, 0, 1, 0});  // vendor: read the latency timer
  reply = exchange(true);
  EXPECT_EQ(reply.sequence, 8u);
  EXPECT_EQ(reply.data, (std::vector<uint8_t>{5}));

  submit(9, kIn, 0, 8, {0x80, 0x30, 0, 0, 0, 0, 8, 0});  // no such request
  reply = exchange(true);
  EXPECT_EQ(reply.sequence, 9u);
  EXPECT_EQ(reply.status, -EPIPE);
  EXPECT_TRUE(reply.data.empty());
}

// Bulk IN transfers wait for the stream; an unlink cancels one still empty and answers under its
// own sequence number, and a finished transfer's packets each lead with the status bytes.
TEST_F(UsbipTest, BulkInWaitsForTheStreamAndUnlinkCancelsAWaitingTransfer) {
  submit(10, kIn, 1, 128);
  ASSERT_TRUE(device->serveCommand());
  submit(11, kIn, 1, 128);
  ASSERT_TRUE(device->serveCommand());
  unlink(12, 11);
  Reply reply = exchange(false);
  EXPECT_EQ(reply.command, 4u);
  EXPECT_EQ(reply.sequence, 12u);
  EXPECT_EQ(reply.status, -ECONNRESET);

  chip->advanceTo(start + std::chrono::milliseconds(20));
  ASSERT_TRUE(device->sendFinished());
  reply = receive(true);
  EXPECT_EQ(reply.command, 3u);
  EXPECT_EQ(reply.sequence, 10u);
  EXPECT_EQ(reply.status, 0);
  ASSERT_EQ(reply.data.size(), 128u);
  FrameSource pattern;
  const uint8_t* frame = nullptr;
  size_t frameSize = 0;
  ASSERT_TRUE(pattern.usePattern() && pattern.nextFrame(frame, frameSize));
  for (size_t packet = 0; packet < 2; ++packet) {
    const uint8_t* bytes = reply.data.data() + 64 * packet;
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x60);
    EXPECT_TRUE(std::equal(bytes + 2, bytes + 64, frame + 62 * packet)) << "packet " << packet;
  }

  unlink(13, 10);  // answered already: left to its RET_SUBMIT
  reply = exchange(false);
  EXPECT_EQ(reply.sequence, 13u);
  EXPECT_EQ(reply.status, 0);
}

// A header may claim any OUT length: the device reads what comes and lets go when the host
// does, without first setting aside memory for the length claimed (4 GiB here).
TEST_F(UsbipTest, HostileOutLengthEndsWithTheHost) {
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  submit(1, kOut, 2, 0xfffffff0u, {}, std::vector<uint8_t>(100, 0));
  ::shutdown(sockets[1], SHUT_WR);
  EXPECT_FALSE(device->serveCommand());
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kB more at the peak";
}

}  // namespace
