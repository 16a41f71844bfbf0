// A scripted stand-in for the libftdi1 calls of FtdiLink. It lists the devices a test sets up,
// records every call but the reads in order, returns the codes a test sets, and answers reads
// from a list of polls, each of which moves the test's clock on as a real poll takes time.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "clock.h"
#include "ftdi_link.h"

namespace ScriptedFtdi {

class ManualClock final : public Clock {
 public:
  uint32_t milliseconds() override { return now; }
  uint32_t now = 0;
};

struct Device {
  int productId = 0x6001;
  std::string product;
  int stringsError = 0;  // ftdi_usb_get_strings2's result
  int openError = 0;     // ftdi_usb_open_dev's result
  unsigned int packetBytes = 64;
};

// One ftdi_read_data answer: `code` when it is not 0 (an error, or a count claimed without
// bytes); otherwise the bytes, as many as were asked for, the rest left for the next poll. A
// poll with neither is an idle chip's answer.
struct Poll {
  int code = 0;
  std::vector<uint8_t> bytes;
};

struct Script {
  std::vector<Device> devices;
  int findAllError = 0;
  int bitModeError = 0;
  int chunkSizeError = 0;
  int latencyError = 0;
  std::deque<Poll> polls;  // idle answers once these run out
  uint32_t pollMs = 2;     // added to the clock by every poll, like one latency period

  ManualClock clock;
  std::vector<std::string> calls;  // e.g. "ftdi_usb_open_dev dev2"; reads are in readSizes
  std::vector<int> readSizes;      // the size asked in each ftdi_read_data
  int openDevice = -1;             // index into devices, -1 while none is open
};

extern Script script;

void reset();
const FtdiFunctions& functions();

}  // namespace ScriptedFtdi
