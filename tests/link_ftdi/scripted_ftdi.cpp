#include "scripted_ftdi.h"

#include <ftdi.h>

#include <algorithm>
#include <cstdio>

namespace ScriptedFtdi {

Script script;

namespace {

ftdi_context context;
std::vector<ftdi_device_list> listEntries;

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

int getStrings(ftdi_context*, libusb_device* device, char*, int, char* product, int productSize, char*, int) {
  script.calls.push_back("ftdi_usb_get_strings2 " + nameOf(device));
  const Device& scripted = script.devices[indexOf(device)];
  if (scripted.stringsError < 0) return scripted.stringsError;
  std::snprintf(product, static_cast<size_t>(productSize), "%s", scripted.product.c_str());
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
  script.openDevice = -1;
  return 0;
}

int setBitMode(ftdi_context*, unsigned char mask, unsigned char mode) {
  script.calls.push_back("ftdi_set_bitmode " + std::to_string(mask) + " " + std::to_string(mode));
  return script.bitModeError;
}

int setReadChunkSize(ftdi_context*, unsigned int bytes) {
  script.calls.push_back("ftdi_read_data_set_chunksize " + std::to_string(bytes));
  return script.chunkSizeError;
}

int setLatencyTimer(ftdi_context*, unsigned char milliseconds) {
  script.calls.push_back("ftdi_set_latency_timer " + std::to_string(milliseconds));
  return script.latencyError;
}

int readData(ftdi_context*, unsigned char* buffer, int size) {
  script.readSizes.push_back(size);
  script.clock.now += script.pollMs;
  if (script.openDevice < 0) return -666;  // libftdi1's answer when no device is open
  if (script.polls.empty()) return 0;
  Poll& poll = script.polls.front();
  if (poll.code != 0) {
    int code = poll.code;
    script.polls.pop_front();
    return code;
  }
  size_t served = std::min(poll.bytes.size(), static_cast<size_t>(size));
  std::copy_n(poll.bytes.begin(), served, buffer);
  poll.bytes.erase(poll.bytes.begin(), poll.bytes.begin() + static_cast<std::ptrdiff_t>(served));
  if (poll.bytes.empty()) script.polls.pop_front();
  return static_cast<int>(served);
}

unsigned int maxPacketSize(ftdi_context*) {
  return script.openDevice < 0 ? 0 : script.devices[static_cast<size_t>(script.openDevice)].packetBytes;
}

}  // namespace

void reset() { script = Script{}; }

const FtdiFunctions& functions() {
  static const FtdiFunctions table{newContext, freeContext, findAll,          freeList,        getStrings,
                                   openDevice, closeDevice, setBitMode,       setReadChunkSize, setLatencyTimer,
                                   readData,   maxPacketSize};
  return table;
}

}  // namespace ScriptedFtdi
