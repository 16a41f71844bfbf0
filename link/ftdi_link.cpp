#include "ftdi_link.h"

#include <ftdi.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

unsigned int contextPacketSize(ftdi_context* context) { return context->max_packet_size; }

// libusb only rules out an overflowing transfer when each request is a whole number of
// packets; libftdi1 passes the chunk size on as it is.
unsigned int readChunkSize(uint32_t readSize, unsigned int packetBytes) {
  if (packetBytes == 0) packetBytes = FtdiLink::kFullSpeedPacketBytes;
  uint64_t packets = readSize == 0 ? 1 : (uint64_t{readSize} + packetBytes - 1) / packetBytes;
  return static_cast<unsigned int>(std::min<uint64_t>(packets * packetBytes, UINT_MAX / packetBytes * packetBytes));
}

}  // namespace

const FtdiFunctions& libftdiFunctions() {
  static const FtdiFunctions functions = [] {
    FtdiFunctions table;
    table.newContext = ftdi_new;
    table.freeContext = ftdi_free;
    table.findAll = ftdi_usb_find_all;
    table.freeList = ftdi_list_free;
    table.getStrings = ftdi_usb_get_strings2;
    table.openDevice = ftdi_usb_open_dev;
    table.closeDevice = ftdi_usb_close;
    table.setBitMode = ftdi_set_bitmode;
    table.setReadChunkSize = ftdi_read_data_set_chunksize;
    table.setLatencyTimer = ftdi_set_latency_timer;
    table.readData = ftdi_read_data;
    table.maxPacketSize = contextPacketSize;
    return table;
  }();
  return functions;
}

FtdiLink::~FtdiLink() {
  close();
  if (context_ != nullptr) ftdi_.freeContext(context_);
}

OpenResult FtdiLink::fail(OpenResult result, int error) {
  lastError_ = error;
  return result;
}

// Vendor and product 0 ask for FTDI's vendor id with each of its default product ids, so the
// device is found whichever chip it is built on. The product string is read by opening the
// device, which fails for a device in use or without permission; such a device is passed over
// rather than ending the search.
bool FtdiLink::openFirstMatchingDevice() {
  ftdi_device_list* devices = nullptr;
  int found = ftdi_.findAll(context_, &devices, 0, 0);
  lastError_ = found < 0 ? found : 0;
  for (ftdi_device_list* entry = found > 0 ? devices : nullptr; entry != nullptr; entry = entry->next) {
    char product[128] = {};
    int error = ftdi_.getStrings(context_, entry->dev, nullptr, 0, product, sizeof product, nullptr, 0);
    product[sizeof product - 1] = '\0';
    if (error < 0) lastError_ = error;
    if (error < 0 || std::strcmp(product, kProductString) != 0) continue;
    error = ftdi_.openDevice(context_, entry->dev);
    if (error < 0) {
      lastError_ = error;
      continue;
    }
    deviceOpen_ = true;
    break;
  }
  if (devices != nullptr) ftdi_.freeList(&devices);
  return deviceOpen_;
}

OpenResult FtdiLink::open(uint32_t readSize) {
  if (deviceOpen_) close();
  if (context_ == nullptr && (context_ = ftdi_.newContext()) == nullptr) return fail(OpenResult::DeviceNotFound, 0);
  if (!openFirstMatchingDevice()) return OpenResult::DeviceNotFound;
  int error = ftdi_.setBitMode(context_, 0, BITMODE_RESET);
  if (error < 0) return fail(OpenResult::ResetModeFailed, error);
  error = ftdi_.setReadChunkSize(context_, readChunkSize(readSize, ftdi_.maxPacketSize(context_)));
  if (error < 0) return fail(OpenResult::TransferSizeFailed, error);
  error = ftdi_.setLatencyTimer(context_, kLatencyTimerMs);
  if (error < 0) return fail(OpenResult::TimeoutsFailed, error);
  return fail(OpenResult::Opened, 0);
}

// A failure here shows at the next read: NotOpen when no device opened again.
void FtdiLink::reopen(uint32_t readSize) {
  close();
  open(readSize);
}

void FtdiLink::close() {
  if (!deviceOpen_) return;
  ftdi_.closeDevice(context_);
  deviceOpen_ = false;
}

// ftdi_read_data gives back whatever the chip had, and 0 when a transfer brought only the
// chip's status bytes: an idle chip sends those once per latency period, so each idle poll
// waits that long and the loop does not spin. The 3 s are counted here, across the polls.
ReadResult FtdiLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  if (!deviceOpen_) return ReadResult::NotOpen;
  const uint32_t start = clock_.milliseconds();
  while (received < count) {
    const uint32_t wanted = std::min<uint32_t>(count - received, INT_MAX);
    int got = ftdi_.readData(context_, buffer + received, static_cast<int>(wanted));
    if (got < 0 || static_cast<uint32_t>(got) > wanted) {
      lastError_ = got < 0 ? got : 0;
      received = 0;
      return got < 0 ? ReadResult::ReadFailed : ReadResult::Overlong;
    }
    received += static_cast<uint32_t>(got);
    if (clock_.milliseconds() - start >= kReadTimeoutMs) break;
  }
  lastError_ = 0;
  return received == 0 ? ReadResult::TimedOut : ReadResult::BytesArrived;
}
