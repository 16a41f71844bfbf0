#include "ftdi_link.h"

#include <ftdi.h>

#include <cstring>

namespace {

// libftdi1 names its endpoints as the chip sees them, so the one the host reads from is called
// out_ep; whichever has the IN direction bit is taken, to be independent of the naming.
UsbEndpoint inEndpointOf(ftdi_context* context) {
  const int address = (context->out_ep & 0x80) != 0 ? context->out_ep : context->in_ep;
  return {context->usb_ctx, context->usb_dev, static_cast<unsigned char>(address), context->max_packet_size};
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
    table.setLatencyTimer = ftdi_set_latency_timer;
    table.inEndpoint = inEndpointOf;
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
// device is found whichever chip it is built on. The strings are read by opening the device,
// which fails for a device in use or without permission; such a device is passed over rather
// than ending the search.
bool FtdiLink::openFirstMatchingDevice() {
  ftdi_device_list* devices = nullptr;
  int found = ftdi_.findAll(context_, &devices, 0, 0);
  lastError_ = found < 0 ? found : 0;
  for (ftdi_device_list* entry = found > 0 ? devices : nullptr; entry != nullptr; entry = entry->next) {
    char product[128] = {};
    char serial[128] = {};
    int error = ftdi_.getStrings(context_, entry->dev, nullptr, 0, product, sizeof product, serial, sizeof serial);
    product[sizeof product - 1] = '\0';
    serial[sizeof serial - 1] = '\0';
    if (error < 0) lastError_ = error;
    if (error < 0 || std::strcmp(product, kProductString) != 0) continue;
    if (!serial_.empty() && serial_ != serial) continue;
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

std::vector<std::string> FtdiLink::attachedSerials() {
  std::vector<std::string> serials;
  ftdi_context* context = ftdi_.newContext();
  if (context == nullptr) return serials;
  ftdi_device_list* devices = nullptr;
  const int found = ftdi_.findAll(context, &devices, 0, 0);
  for (ftdi_device_list* entry = found > 0 ? devices : nullptr; entry != nullptr; entry = entry->next) {
    char product[128] = {};
    char serial[128] = {};
    if (ftdi_.getStrings(context, entry->dev, nullptr, 0, product, sizeof product, serial, sizeof serial) < 0) continue;
    product[sizeof product - 1] = '\0';
    serial[sizeof serial - 1] = '\0';
    if (std::strcmp(product, kProductString) == 0) serials.emplace_back(serial);
  }
  if (devices != nullptr) ftdi_.freeList(&devices);
  ftdi_.freeContext(context);
  return serials;
}

OpenResult FtdiLink::open(uint32_t) {
  close();
  return openAndStream();
}

OpenResult FtdiLink::openAndStream() {
  if (context_ == nullptr && (context_ = ftdi_.newContext()) == nullptr) return fail(OpenResult::DeviceNotFound, 0);
  if (!openFirstMatchingDevice()) return OpenResult::DeviceNotFound;
  int error = ftdi_.setBitMode(context_, 0, BITMODE_RESET);
  if (error < 0) return fail(OpenResult::ResetModeFailed, error);
  error = ftdi_.setLatencyTimer(context_, kLatencyTimerMs);
  if (error < 0) return fail(OpenResult::LatencyTimerFailed, error);
  error = stream_.start(ftdi_.inEndpoint(context_));
  if (error < 0) return fail(OpenResult::StreamFailed, error);
  lastError_ = 0;
  return OpenResult::Opened;
}

// The read size does not concern the transfers, so a flowing stream is left alone: closing
// the device would lose at the chip whatever came while it was closed, tens of milliseconds of
// stream against the 2 ms an FT232R holds. A failed or stopped one is opened afresh; a failure
// then shows at the next read: NotOpen when no device opened again, once the bytes buffered
// before have been read.
void FtdiLink::reopen(uint32_t) {
  if (stream_.isFlowing()) return;
  stopAndCloseDevice();
  openAndStream();
}

void FtdiLink::close() {
  stopAndCloseDevice();
  stream_.discardBuffered();
}

// The stream's transfers must all have come back before libftdi1 releases the device.
void FtdiLink::stopAndCloseDevice() {
  stream_.stop();
  if (!deviceOpen_) return;
  ftdi_.closeDevice(context_);
  deviceOpen_ = false;
}

ReadResult FtdiLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  if (!stream_.isStarted() && stream_.bufferedBytes() == 0) return ReadResult::NotOpen;
  return stream_.read(buffer, count, received, clock_, lastError_);
}
