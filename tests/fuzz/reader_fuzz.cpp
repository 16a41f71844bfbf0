// The stream reader over the D2XX link and a driver whose reads return arbitrary counts and
// statuses, with reopens and changes of the read size (in range or not) in between. Whatever the
// driver does, the reader must serve exactly the bytes that successful reads delivered, in
// order, none twice and none made up; it fails just when it needs a read and that read brings
// nothing usable, and it never asks for more than its 256-byte buffer. The scripted driver
// (tests/support) aborts on any call the link must never make.
//
// Input: steps, one byte each plus their arguments, until the input runs out:
//   step % 4 == 0: take step / 4 + 1 bytes from the reader, one by one;
//   step % 4 == 1: as the decoder's source: look at the unread rest of the buffer, consume up
//                  to step / 4 of those bytes, then take one byte the ordinary way;
//   step % 4 == 2: a new read size (see nextReadSize), then a reopen whose open sequence fails
//                  at the call chosen by one more byte (or at none), and whose close answers
//                  with the status chosen by one more byte while the device is open;
//   step % 4 == 3: a new read size without a reopen (whatever the number, a read must stay
//                  within 1 ... 256).
// Every read the driver serves takes two more input bytes (see FuzzedD2xx::nextRead).
#include "check.h"
#include "d2xx_link.h"
#include "input_cursor.h"
#include "scripted_d2xx.h"
#include "settings.h"
#include "stream_reader.h"

namespace {

// Byte `index` of the stream the device delivers.
uint8_t streamByte(uint64_t index) { return static_cast<uint8_t>((index * 0x9E3779B1u) >> 13); }

// The scripted driver with its reads drawn from the input, and what the target keeps count of.
class FuzzedD2xx final : public ScriptedD2xx {
 public:
  explicit FuzzedD2xx(InputCursor& input) : input_(input) {}

  const StreamReader* reader = nullptr;
  uint64_t delivered = 0;  // bytes delivered by successful reads
  uint64_t served = 0;     // bytes the reader has served
  uint32_t readsThisStep = 0;
  bool lastReadFailed = false;  // an error status, no bytes, or an overlong count

 private:
  // From two input bytes (s, c): s % 16 == 15 an error status s with garbage in the count;
  // s % 16 == 14 the whole request written but more claimed than asked for; else FT_OK with the
  // whole request (bit 4 of s) or min(c, request) bytes, 0 being a time-out.
  Read nextRead(uint32_t count) override {
    REQUIRE(count == reader->readSize(), "a read asks for the read size in force");
    REQUIRE(served == delivered, "no read while delivered bytes are still unserved");
    ++readsThisStep;
    const uint8_t s = input_.next(), c = input_.next();
    if (s % 16 == 15) {
      lastReadFailed = true;
      return {s, {}, c};
    }
    const uint32_t size = s % 16 == 14 || (s & 0x10) ? count : c < count ? c : count;
    Read read;
    for (uint32_t i = 0; i < size; ++i) read.bytes.push_back(streamByte(delivered + i));
    if (s % 16 == 14) {
      read.claimed = int64_t{count} + 1 + c;
      lastReadFailed = true;
      return read;
    }
    delivered += size;
    lastReadFailed = size == 0;
    return read;
  }
  void misused(const std::string& rule) override { REQUIRE(false, rule.c_str()); }

  InputCursor& input_;
};

// Sizes around the buffer's bounds mostly, any 32-bit value sometimes.
int32_t nextReadSize(InputCursor& input) {
  const uint8_t selector = input.next();
  if (selector & 0x80) {
    uint32_t raw = 0;
    for (int i = 0; i < 4; ++i) raw = raw << 8 | input.next();
    return static_cast<int32_t>(raw);
  }
  return (selector & 0x7F) * 3 - 20;  // -20 ... 361
}

struct Target {
  InputCursor input;
  FuzzedD2xx driver{input};
  D2xxLink link{ScriptedD2xx::functions()};
  StreamReader reader{link};
  const uint8_t* readBuffer = nullptr;

  void setReadSize(int32_t readSize) {
    reader.setReadSize(readSize);
    REQUIRE(reader.readSize() == static_cast<uint32_t>(sanitizedReadSize(readSize)),
          "a read size outside 1 ... 256 becomes the default");
  }

  void takeByte() {
    driver.readsThisStep = 0;
    driver.lastReadFailed = false;
    const bool pending = driver.served < driver.delivered;
    uint8_t byte = 0;
    const int result = reader.nextByte(byte);
    if (pending) {
      REQUIRE(result == 0 && driver.readsThisStep == 0, "bytes left in the buffer are served without a read");
    } else if (driver.openHandle() == nullptr) {
      REQUIRE(result == 1 && driver.readsThisStep == 0, "with the device closed the reader fails without a read");
      return;
    } else {
      REQUIRE(driver.readsThisStep == 1, "an empty buffer is refilled by exactly one read");
      REQUIRE(driver.lastReadBuffer == readBuffer, "reads land in the read buffer");
      REQUIRE(result == (driver.lastReadFailed ? 1 : 0), "the reader fails just when its read brought nothing usable");
      if (result != 0) return;
    }
    REQUIRE(byte == streamByte(driver.served), "bytes are served in the order the device delivered them");
    ++driver.served;
  }

  // The decoder's view: what the reader shows must be exactly the delivered, unserved bytes.
  void consumeBytes(size_t wanted) {
    StreamReader::Source source{&reader};
    const uint8_t* bytes = nullptr;
    const size_t shown = source.unread(bytes);
    REQUIRE(shown == driver.delivered - driver.served, "the reader shows just the bytes not yet served");
    for (size_t i = 0; i < shown; ++i)
      REQUIRE(bytes[i] == streamByte(driver.served + i), "shown bytes are the next bytes of the stream, in order");
    const size_t taken = wanted < shown ? wanted : shown;
    if (taken > 0) source.consume(taken);
    driver.served += taken;
    takeByte();
  }

  void reopen() {
    setReadSize(nextReadSize(input));
    const uint8_t failing = input.next() % 8;  // 0 ... 3: that call of the open sequence fails
    driver.openStatus = failing == 0 ? FT_IO_ERROR : FT_OK;
    driver.bitModeStatus = failing == 1 ? FT_IO_ERROR : FT_OK;
    driver.usbParametersStatus = failing == 2 ? FT_IO_ERROR : FT_OK;
    driver.timeoutsStatus = failing == 3 ? FT_IO_ERROR : FT_OK;
    if (link.isOpen()) driver.closeStatus = input.next() % 2;
    link.reopen(reader.readSize());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Target target{{data, size}};
  target.driver.reader = &target.reader;
  target.reader.unread(target.readBuffer);  // the whole buffer, while nothing is unread
  REQUIRE(target.link.open(target.reader.readSize()) == OpenResult::Opened, "the device opens when the driver agrees");

  while (!target.input.atEnd()) {
    const uint8_t step = target.input.next();
    switch (step % 4) {
      case 0:
        for (int i = step / 4; i >= 0; --i) target.takeByte();
        break;
      case 1: target.consumeBytes(step / 4); break;
      case 2: target.reopen(); break;
      default: target.setReadSize(nextReadSize(target.input)); break;
    }
  }
  target.link.close();
  REQUIRE(target.driver.openHandle() == nullptr, "closing closes the open handle");
  return 0;
}
