// The emulated chip as one USB device served over the USB/IP protocol on a stream socket, whose
// other end belongs to the kernel's virtual host controller (vhci-hcd): the host's USB requests
// arrive as CMD_SUBMIT and CMD_UNLINK, and the device answers with RET_SUBMIT and RET_UNLINK.
// Endpoint 0 answers the standard requests (vhci answers SET_ADDRESS itself) and the chip's
// vendor requests; bulk IN 0x81 is the chip's stream; what arrives on bulk OUT 0x02 is taken and
// logged.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "usb_chip.h"

struct DeviceIdentity {
  uint16_t productId = 0x6001;
  std::string product = "KESTRAVU";
  std::string serial = "KV000001";
  bool highSpeed = false;  // 512-byte bulk packets instead of 64
};

class UsbipDevice {
 public:
  UsbipDevice(int socket, const DeviceIdentity& identity, UsbChip& chip, FILE* log)
      : socket_(socket), identity_(identity), chip_(chip), log_(log) {}

  // Reads and answers one command; false when the host has gone (the socket closed or failed)
  // or sent something that is not USB/IP.
  bool serveCommand();
  // Sends the bulk IN transfers the chip has finished; false when the host has gone.
  bool sendFinished();

 private:
  struct Submit {
    uint32_t sequence, direction, endpoint, length;
    uint8_t setup[8];
  };
  bool serveSubmit(const uint8_t* header);
  bool serveUnlink(const uint8_t* header);
  bool answerControl(const Submit& submit);
  bool standardRequest(const Submit& submit, std::vector<uint8_t>& reply);
  std::vector<uint8_t> descriptor(uint8_t type, uint8_t index) const;
  bool reply(uint32_t sequence, int32_t status, const std::vector<uint8_t>& data, uint32_t outLength = 0);

  int socket_;
  DeviceIdentity identity_;
  UsbChip& chip_;
  FILE* log_;
};
