#include "d2xx_link.h"

OpenResult D2xxLink::fail(OpenResult result, FT_STATUS status) {
  lastStatus_ = status;
  return result;
}

OpenResult D2xxLink::open(uint32_t readSize) {
  if (d2xx_.openEx == nullptr) return fail(OpenResult::LibraryMissing, FT_OK);
  close();  // a handle overwritten while open would stay open for good
  FT_HANDLE handle = nullptr;
  FT_STATUS status = serial_.empty()
                         ? d2xx_.openEx(const_cast<char*>(kDeviceDescription), FT_OPEN_BY_DESCRIPTION, &handle)
                         : d2xx_.openEx(const_cast<char*>(serial_.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  if (status != FT_OK) return fail(OpenResult::DeviceNotFound, status);
  handle_ = handle;
  // Mask 0, mode 0: the chip's plain mode, in which it passes the capture stream through.
  if ((status = d2xx_.setBitMode(handle, 0, 0)) != FT_OK) return fail(OpenResult::ResetModeFailed, status);
  // The driver's USB IN transfers are sized like the reads; nothing is sent to the device.
  if ((status = d2xx_.setUSBParameters(handle, readSize, 0)) != FT_OK)
    return fail(OpenResult::TransferSizeFailed, status);
  if ((status = d2xx_.setTimeouts(handle, kReadTimeoutMs, kWriteTimeoutMs)) != FT_OK)
    return fail(OpenResult::TimeoutsFailed, status);
  return fail(OpenResult::Opened, FT_OK);
}

// A failure here shows as a failing read.
void D2xxLink::reopen(uint32_t readSize) {
  close();
  open(readSize);
  // The transfer size is set once more after the sequence; like the open's, its result is left
  // to the next read to show. A handle closed above is never passed on: the driver may have
  // freed what it pointed to.
  if (handle_ != nullptr) d2xx_.setUSBParameters(handle_, readSize, 0);
}

void D2xxLink::close() {
  if (handle_ == nullptr) return;
  d2xx_.close(handle_);
  handle_ = nullptr;
}

ReadResult D2xxLink::read(uint8_t* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  if (handle_ == nullptr) return ReadResult::NotOpen;
  lastStatus_ = d2xx_.read(handle_, buffer, count, &received);
  if (lastStatus_ != FT_OK) {
    received = 0;
    return ReadResult::ReadFailed;
  }
  return ReadResult::BytesArrived;
}
