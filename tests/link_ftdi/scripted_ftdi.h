// A scripted stand-in for the libftdi1 and libusb calls of FtdiLink. It lists the devices a
// test sets up, records the libftdi1 calls in order, returns the codes a test sets, and
// completes the stream's transfers, on the stream's own thread, from a list of completions;
// while it has none, each wait for events moves the test's clock on, as an idle chip's
// answers take time.
#pragma once
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "ftdi_link.h"
#include "manual_clock.h"

namespace ScriptedFtdi {

struct Device {
  int productId = 0x6001;
  std::string product;
  int stringsError = 0;  // ftdi_usb_get_strings2's result
  int openError = 0;     // ftdi_usb_open_dev's result
  unsigned int packetBytes = 64;
  std::string serial = "KV000001";
};

// One bulk IN transfer coming back: its libusb_transfer_status, and the bytes the chip sent,
// packets with their status bytes at the front.
struct Completion {
  int status = 0;  // LIBUSB_TRANSFER_COMPLETED
  std::vector<uint8_t> bytes;
};

struct Script {
  std::vector<Device> devices;
  int findAllError = 0;
  int bitModeError = 0;
  int latencyError = 0;
  int submitError = 0;     // returned by the submitErrorAt-th libusb_submit_transfer (from 1)
  int submitErrorAt = 3;
  uint32_t idleMs = 20;    // added to the clock by each wait for events that completes nothing
  int eventsError = 0;     // returned by every wait for events while set, which then completes nothing
  bool cancelsComeBack = true;             // false: a cancelled transfer never comes back
  std::vector<uint8_t> cancelledBytes;     // what the first cancelled transfer brings back

  ManualClock clock;
  std::vector<std::string> calls;  // libftdi1's, e.g. "ftdi_usb_open_dev dev2"
  int openDevice = -1;             // index into devices, -1 while none is open
  int transfersAtClose = -1;       // transfers allocated and not yet freed at ftdi_usb_close

  // Also used by the stream's thread: set before the device opens, or through complete(), and
  // read once settle() has returned.
  std::deque<Completion> completions;
  std::deque<libusb_transfer*> queued;  // submitted and not back yet, oldest first
  std::set<libusb_transfer*> cancelled;
  std::vector<std::string> submits;     // e.g. "0x81 512": endpoint and length
  int cancels = 0;
  int allocated = 0;  // and not yet freed
  int handedOut = 0;  // completions handed to the stream
  int finished = 0;   // of those, the callbacks that have returned
  int eventWaits = 0;
};
extern Script script;

void reset();
const FtdiFunctions& functions();
const UsbFunctions& usbFunctions();
// Adds completions while the stream runs.
void complete(std::initializer_list<Completion> completions);
// Waits until every completion has been handed to the stream and dealt with.
void settle();
// Brings back, cancelled, the transfers still queued, as libusb would for transfers left to it.
void returnQueued();

// The chip's bytes for `payload`: packets of `packetBytes`, each led by the 2 status bytes.
std::vector<uint8_t> packets(const std::vector<uint8_t>& payload, unsigned int packetBytes = 64);

}  // namespace ScriptedFtdi
