#include "usbip_device.h"

#include <unistd.h>

#include <cerrno>

namespace {

// Every USB/IP message starts with a 48-byte header of big-endian words.
constexpr size_t kHeaderBytes = 48;
constexpr uint32_t kCmdSubmit = 1, kCmdUnlink = 2, kRetSubmit = 3, kRetUnlink = 4;
constexpr uint32_t kDirectionIn = 1;
constexpr int32_t kStall = -EPIPE, kUnlinked = -ECONNRESET;
constexpr uint16_t kFtdiVendor = 0x0403;

uint32_t word(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

void putWord(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

bool readAll(int socket, uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t got = ::read(socket, bytes, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

bool writeAll(int socket, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t put = ::write(socket, bytes, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

void appendLittle16(std::vector<uint8_t>& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> stringDescriptor(const std::string& text) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * text.size()), 3};
  for (char c : text) appendLittle16(bytes, static_cast<uint8_t>(c));
  return bytes;
}

}  // namespace

bool UsbipDevice::serveCommand() {
  uint8_t header[kHeaderBytes];
  if (!readAll(socket_, header, sizeof header)) return false;
  switch (word(header)) {
    case kCmdSubmit: return serveSubmit(header);
    case kCmdUnlink: return serveUnlink(header);
    default:
      std::fprintf(log_, "not a USB/IP command: 0x%08x\n", word(header));
      return false;
  }
}

bool UsbipDevice::serveSubmit(const uint8_t* header) {
  Submit submit{word(header + 4), word(header + 12), word(header + 16), word(header + 24), {}};
  std::copy(header + 40, header + 48, submit.setup);
  std::vector<uint8_t> outData;
  if (submit.direction != kDirectionIn) {
    outData.resize(submit.length);
    if (!readAll(socket_, outData.data(), outData.size())) return false;
  }
  if (submit.endpoint == 0) return answerControl(submit);
  if (submit.endpoint == 1 && submit.direction == kDirectionIn) {
    chip_.submitIn(submit.sequence, submit.length, UsbChip::Clock::now());
    return true;
  }
  if (submit.endpoint == 2 && submit.direction != kDirectionIn) {
    std::fprintf(log_, "bulk out %u bytes\n", submit.length);
    return reply(submit.sequence, 0, {}, submit.length);
  }
  return reply(submit.sequence, kStall, {});
}

// A transfer still waiting is cancelled; one already answered is left to its RET_SUBMIT.
bool UsbipDevice::serveUnlink(const uint8_t* header) {
  const uint32_t target = word(header + 20);
  const bool cancelled = chip_.unlinkIn(target);
  if (!sendFinished()) return false;
  uint8_t answer[kHeaderBytes] = {};
  putWord(answer, kRetUnlink);
  putWord(answer + 4, word(header + 4));
  putWord(answer + 20, static_cast<uint32_t>(cancelled ? kUnlinked : 0));
  return writeAll(socket_, answer, sizeof answer);
}

bool UsbipDevice::sendFinished() {
  for (const UsbChip::Finished& transfer : chip_.takeFinished())
    if (!reply(transfer.sequence, transfer.stalled ? kStall : 0, transfer.data)) return false;
  return true;
}

// An OUT transfer reports the length it took and carries no data back.
bool UsbipDevice::reply(uint32_t sequence, int32_t status, const std::vector<uint8_t>& data, uint32_t outLength) {
  uint8_t answer[kHeaderBytes] = {};
  putWord(answer, kRetSubmit);
  putWord(answer + 4, sequence);
  putWord(answer + 20, static_cast<uint32_t>(status));
  putWord(answer + 24, data.empty() ? outLength : static_cast<uint32_t>(data.size()));
  return writeAll(socket_, answer, sizeof answer) && writeAll(socket_, data.data(), data.size());
}

bool UsbipDevice::answerControl(const Submit& submit) {
  const uint8_t requestType = submit.setup[0], request = submit.setup[1];
  const uint16_t value = static_cast<uint16_t>(submit.setup[2] | submit.setup[3] << 8);
  const uint16_t index = static_cast<uint16_t>(submit.setup[4] | submit.setup[5] << 8);
  const uint16_t length = static_cast<uint16_t>(submit.setup[6] | submit.setup[7] << 8);
  std::vector<uint8_t> answer;
  bool known = (requestType & 0x60) == 0x40 ? chip_.vendorRequest(request, value, index, answer)
                                            : standardRequest(submit, answer);
  if (!known) {
    std::fprintf(log_, "stalled control request type=0x%02x request=0x%02x value=0x%04x index=%u\n", requestType,
                 request, value, index);
    return reply(submit.sequence, kStall, {});
  }
  if ((requestType & 0x80) == 0) answer.clear();
  if (answer.size() > length) answer.resize(length);
  if (answer.size() > submit.length) answer.resize(submit.length);
  return reply(submit.sequence, 0, answer, (requestType & 0x80) != 0 ? 0 : submit.length);
}

bool UsbipDevice::standardRequest(const Submit& submit, std::vector<uint8_t>& answer) {
  const uint8_t requestType = submit.setup[0], request = submit.setup[1];
  const uint8_t valueLow = submit.setup[2], valueHigh = submit.setup[3];
  enum : uint8_t { kGetStatus = 0, kClearFeature = 1, kGetDescriptor = 6, kGetConfiguration = 8,
                   kSetConfiguration = 9, kSetInterface = 11 };
  switch (request) {
    case kGetStatus: answer = {0, 0}; return true;
    case kClearFeature:
      std::fprintf(log_, "clear feature %u recipient=%u index=%u\n", valueLow, requestType & 0x1f, submit.setup[4]);
      return true;
    case kGetDescriptor: answer = descriptor(valueHigh, valueLow); return !answer.empty();
    case kGetConfiguration: answer = {1}; return true;
    case kSetConfiguration:
    case kSetInterface: return true;
    default: return false;
  }
}

// An FT232R (full speed) or FT232H (high speed) with the device's own product string: one
// vendor-specific interface with one bulk endpoint each way.
std::vector<uint8_t> UsbipDevice::descriptor(uint8_t type, uint8_t index) const {
  const uint16_t packetBytes = identity_.highSpeed ? 512 : 64;
  std::vector<uint8_t> bytes;
  switch (type) {
    case 1:
      bytes = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
      appendLittle16(bytes, kFtdiVendor);
      appendLittle16(bytes, identity_.productId);
      appendLittle16(bytes, identity_.highSpeed ? 0x0900 : 0x0600);
      bytes.insert(bytes.end(), {1, 2, 3, 1});
      return bytes;
    case 2:
      bytes = {9, 2, 32, 0, 1, 1, 0, 0xa0, 45,   // configuration: 32 bytes, 1 interface, 90 mA
               9, 4, 0, 0, 2, 0xff, 0xff, 0xff, 2};  // interface 0: 2 endpoints, vendor class
      for (uint8_t address : {uint8_t{0x81}, uint8_t{0x02}}) {
        bytes.insert(bytes.end(), {7, 5, address, 2});
        appendLittle16(bytes, packetBytes);
        bytes.push_back(0);
      }
      return bytes;
    case 3:
      switch (index) {
        case 0: return {4, 3, 0x09, 0x04};  // US English
        case 1: return stringDescriptor("FTDI");
        case 2: return stringDescriptor(identity_.product);
        case 3: return stringDescriptor(identity_.serial);
        default: return {};
      }
    case 6:  // a high-speed device says how it would look at full speed
      if (!identity_.highSpeed) return {};
      return {10, 6, 0x00, 0x02, 0, 0, 0, 64, 1, 0};
    default: return {};
  }
}
