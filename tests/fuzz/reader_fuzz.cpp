// The stream reader over a driver whose reads return arbitrary counts and statuses, with
// reopens and changes of the read size (in range or not) in between. Whatever the driver does,
// the reader must serve exactly the bytes that successful reads delivered, in order, none twice
// and none made up; it fails just when it needs a read and that read brings nothing usable,
// and it never asks for more than its 256-byte buffer (checked by the driver, scripted_d2xx).
//
// Input: steps, one byte each plus their arguments, until the input runs out:
//   step % 4 == 0: take step / 4 + 1 bytes from the reader, one by one;
//   step % 4 == 1: as the decoder's source: borrow the unread rest of the buffer, take up to
//                  step / 4 of those bytes, then one byte the ordinary way;
//   step % 4 == 2: a new read size (see nextReadSize), then a reopen whose open sequence fails
//                  at the call chosen by one more byte (or at none);
//   step % 4 == 3: a new read size without a reopen (whatever the settings record holds, a read
//                  must stay within 1 ... 256).
// Every read the driver serves takes two more input bytes (see scripted_d2xx.cpp).
#include "scripted_d2xx.h"
#include "settings.h"
#include "usb_link.h"

namespace {

using ScriptedD2xx::driver;
using ScriptedD2xx::streamByte;

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

void takeByte() {
  driver.readsThisStep = 0;
  driver.lastReadFailed = false;
  const bool pending = driver.served < driver.delivered;
  uint8_t byte = 0;
  const int result = StreamReader::nextByte(byte);
  if (pending) {
    check(result == 0 && driver.readsThisStep == 0, "bytes left in the buffer are served without a read");
  } else if (driver.openHandle == nullptr) {
    check(result == 1 && driver.readsThisStep == 0, "with the device closed the reader fails without a read");
    return;
  } else {
    check(driver.readsThisStep == 1, "an empty buffer is refilled by exactly one read");
    check(result == (driver.lastReadFailed ? 1 : 0), "the reader fails just when its read brought nothing usable");
    if (result != 0) return;
  }
  check(byte == streamByte(driver.served), "bytes are served in the order the device delivered them");
  ++driver.served;
}

// The decoder's view: what the reader lends must be exactly the delivered, unserved bytes.
void borrowBytes(size_t wanted) {
  StreamReader::DeviceSource source;
  const uint8_t* bytes = nullptr;
  const size_t lent = source.lend(bytes);
  check(lent == driver.delivered - driver.served, "the reader lends just the bytes not yet served");
  for (size_t i = 0; i < lent; ++i)
    check(bytes[i] == streamByte(driver.served + i), "lent bytes are the next bytes of the stream, in order");
  const size_t taken = wanted < lent ? wanted : lent;
  if (taken > 0) source.take(taken);
  driver.served += taken;
  takeByte();
}

void reopen(InputCursor& input) {
  settings.bufsize = nextReadSize(input);
  const uint8_t failing = input.next() % 8;  // 0 ... 3: that call of the open sequence fails
  for (int call = 0; call < 4; ++call)
    driver.sequenceStatuses[call] = call == failing ? FT_IO_ERROR : FT_OK;
  DeviceLink::reopen();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputCursor input{data, size};
  driver = ScriptedD2xx::Driver{};
  driver.input = &input;
  DeviceLink::linkState = DeviceLink::LinkState{};
  StreamReader::readerState = StreamReader::ReaderState{};
  settings = Settings{};
  check(DeviceLink::open() == 0, "the device opens when the driver agrees");

  while (!input.atEnd()) {
    const uint8_t step = input.next();
    switch (step % 4) {
      case 0:
        for (int i = step / 4; i >= 0; --i) takeByte();
        break;
      case 1: borrowBytes(step / 4); break;
      case 2: reopen(input); break;
      default: settings.bufsize = nextReadSize(input); break;
    }
  }
  DeviceLink::close();
  check(driver.openHandle == nullptr, "closing closes the open handle");
  driver.input = nullptr;
  return 0;
}
