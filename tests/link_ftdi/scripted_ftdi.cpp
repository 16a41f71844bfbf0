#include "scripted_ftdi.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace ScriptedFtdi {

Script script;

namespace {

ftdi_context context;
std::vector<ftdi_device_list> listEntries;
std::mutex usbMutex;  // guards the script's stream part while the stream's thread runs

int indexOf(libusb_device* device) {
  return static_cast<int>(reinterpret_cast<Device*>(device) - script.devices.data());
}
std::string nameOf(libusb_device* device) { return "dev" + std::to_string(indexOf(device) + 1); }

ftdi_context* newContext() {
  script.calls.push_back("ftdi_new");
  return &context;
}

void freeContext(ftdi_context*) { script.calls.push_back("ftdi_free"); }

int findAll(ftdi_context*, ftdi_device_list** list, int vendor, int product) {
  script.calls.push_back("ftdi_usb_find_all " + std::to_string(vendor) + " " + std::to_string(product));
  *list = nullptr;
  if (script.findAllError < 0) return script.findAllError;
  listEntries.assign(script.devices.size(), ftdi_device_list{});
  for (size_t i = 0; i < listEntries.size(); ++i) {
    listEntries[i].dev = reinterpret_cast<libusb_device*>(&script.devices[i]);
    listEntries[i].next = i + 1 < listEntries.size() ? &listEntries[i + 1] : nullptr;
  }
  if (!listEntries.empty()) *list = listEntries.data();
  return static_cast<int>(listEntries.size());
}

void freeList(ftdi_device_list** list) {
  script.calls.push_back(*list == listEntries.data() ? "ftdi_list_free" : "ftdi_list_free (not the list)");
  *list = nullptr;
}

int getStrings(ftdi_context*, libusb_device* device, char*, int, char* product, int productSize, char* serial,
               int serialSize) {
  script.calls.push_back("ftdi_usb_get_strings2 " + nameOf(device));
  const Device& scripted = script.devices[indexOf(device)];
  if (scripted.stringsError < 0) return scripted.stringsError;
  if (product != nullptr) std::snprintf(product, static_cast<size_t>(productSize), "%s", scripted.product.c_str());
  if (serial != nullptr) std::snprintf(serial, static_cast<size_t>(serialSize), "%s", scripted.serial.c_str());
  return 0;
}

int openDevice(ftdi_context*, libusb_device* device) {
  script.calls.push_back("ftdi_usb_open_dev " + nameOf(device));
  const Device& scripted = script.devices[indexOf(device)];
  if (scripted.openError < 0) return scripted.openError;
  script.openDevice = indexOf(device);
  return 0;
}

int closeDevice(ftdi_context*) {
  script.calls.push_back("ftdi_usb_close");
  {
    const std::lock_guard<std::mutex> lock(usbMutex);
    script.transfersAtClose = script.allocated;
  }
  script.openDevice = -1;
  return 0;
}

int setBitMode(ftdi_context*, unsigned char mask, unsigned char mode) {
  script.calls.push_back("ftdi_set_bitmode " + std::to_string(mask) + " " + std::to_string(mode));
  return script.bitModeError;
}

int setLatencyTimer(ftdi_context*, unsigned char milliseconds) {
  script.calls.push_back("ftdi_set_latency_timer " + std::to_string(milliseconds));
  return script.latencyError;
}

UsbEndpoint inEndpoint(ftdi_context*) {
  const unsigned int packetBytes =
      script.openDevice < 0 ? 0 : script.devices[static_cast<size_t>(script.openDevice)].packetBytes;
  return {nullptr, nullptr, 0x81, packetBytes};
}

libusb_transfer* allocTransfer(int) {
  const std::lock_guard<std::mutex> lock(usbMutex);
  ++script.allocated;
  return static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer)));
}

void freeTransfer(libusb_transfer* transfer) {
  const std::lock_guard<std::mutex> lock(usbMutex);
  --script.allocated;
  std::free(transfer);
}

int submitTransfer(libusb_transfer* transfer) {
  const std::lock_guard<std::mutex> lock(usbMutex);
  char line[32];
  std::snprintf(line, sizeof line, "%#x %d", transfer->endpoint, transfer->length);
  script.submits.push_back(line);
  if (static_cast<int>(script.submits.size()) == script.submitErrorAt && script.submitError < 0)
    return script.submitError;
  script.queued.push_back(transfer);
  return 0;
}

int cancelTransfer(libusb_transfer* transfer) {
  const std::lock_guard<std::mutex> lock(usbMutex);
  ++script.cancels;
  if (std::find(script.queued.begin(), script.queued.end(), transfer) == script.queued.end())
    return LIBUSB_ERROR_NOT_FOUND;
  script.cancelled.insert(transfer);
  return 0;
}

// Cancellations come back first, then the scripted completions in order, each on the oldest
// queued transfer, as the host controller serves them.
libusb_transfer* nextDone() {
  for (auto it = script.queued.begin(); it != script.queued.end() && script.cancelsComeBack; ++it) {
    if (script.cancelled.erase(*it) == 0) continue;
    libusb_transfer* transfer = *it;
    script.queued.erase(it);
    transfer->status = LIBUSB_TRANSFER_CANCELLED;
    transfer->actual_length = static_cast<int>(std::min(script.cancelledBytes.size(), size_t(transfer->length)));
    std::copy_n(script.cancelledBytes.begin(), transfer->actual_length, transfer->buffer);
    script.cancelledBytes.clear();
    return transfer;
  }
  if (script.completions.empty() || script.queued.empty()) return nullptr;
  libusb_transfer* transfer = script.queued.front();
  script.queued.pop_front();
  const Completion& completion = script.completions.front();
  const size_t length = std::min(completion.bytes.size(), static_cast<size_t>(transfer->length));
  std::copy_n(completion.bytes.begin(), length, transfer->buffer);
  transfer->actual_length = static_cast<int>(length);
  transfer->status = static_cast<libusb_transfer_status>(completion.status);
  script.completions.pop_front();
  ++script.handedOut;
  return transfer;
}

int handleEvents(libusb_context*, timeval*, int*) {
  libusb_transfer* done = nullptr;
  {
    const std::lock_guard<std::mutex> lock(usbMutex);
    ++script.eventWaits;
    if (script.eventsError < 0) return script.eventsError;
    done = nextDone();
  }
  if (done == nullptr) {
    script.clock.advance(script.idleMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
  }
  const bool cancelled = done->status == LIBUSB_TRANSFER_CANCELLED;
  done->callback(done);
  const std::lock_guard<std::mutex> lock(usbMutex);
  if (!cancelled) ++script.finished;
  return 0;
}

}  // namespace

void reset() { script = Script{}; }

const FtdiFunctions& functions() {
  static const FtdiFunctions table{newContext, freeContext, findAll,    freeList,        getStrings,
                                   openDevice, closeDevice, setBitMode, setLatencyTimer, inEndpoint};
  return table;
}

const UsbFunctions& usbFunctions() {
  static const UsbFunctions table{allocTransfer, freeTransfer, submitTransfer, cancelTransfer, handleEvents};
  return table;
}

void complete(std::initializer_list<Completion> completions) {
  const std::lock_guard<std::mutex> lock(usbMutex);
  script.completions.insert(script.completions.end(), completions);
}

void settle() {
  for (int waited = 0; waited < 5000; ++waited) {
    {
      const std::lock_guard<std::mutex> lock(usbMutex);
      if (script.completions.empty() && script.finished == script.handedOut) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::fputs("scripted libusb: completions still waiting after 5 s\n", stderr);
}

void returnQueued() {
  std::deque<libusb_transfer*> left;
  {
    const std::lock_guard<std::mutex> lock(usbMutex);
    left.swap(script.queued);
    script.cancelled.clear();
  }
  for (libusb_transfer* transfer : left) {
    transfer->status = LIBUSB_TRANSFER_CANCELLED;
    transfer->actual_length = 0;
    transfer->callback(transfer);
  }
}

std::vector<uint8_t> packets(const std::vector<uint8_t>& payload, unsigned int packetBytes) {
  std::vector<uint8_t> bytes;
  const size_t perPacket = packetBytes - 2;
  for (size_t offset = 0; offset == 0 || offset < payload.size(); offset += perPacket) {
    bytes.insert(bytes.end(), {0x01, 0x60});
    const size_t end = std::min(payload.size(), offset + perPacket);
    bytes.insert(bytes.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                 payload.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return bytes;
}

}  // namespace ScriptedFtdi
