#include "usb_link.h"

#include "settings.h"

namespace DeviceLink {

LinkState linkState;

namespace {

int fail(OpenResult result, FT_STATUS status) {
  linkState.lastOpen = result;
  linkState.lastOpenStatus = status;
  return 1;
}

}  // namespace

int open() {
  switch (D2xxLibrary::bind()) {
    case D2xxLibrary::BindResult::Bound: break;
    case D2xxLibrary::BindResult::LibraryMissing: return fail(OpenResult::LibraryMissing, FT_OK);
    case D2xxLibrary::BindResult::FunctionMissing: return fail(OpenResult::FunctionMissing, FT_OK);
  }
  const D2xxFunctions& d2xx = D2xxLibrary::functions;
  FT_HANDLE handle = nullptr;
  FT_STATUS status = d2xx.openEx(const_cast<char*>(kDeviceDescription), FT_OPEN_BY_DESCRIPTION, &handle);
  if (status != FT_OK) return fail(OpenResult::DeviceNotFound, status);
  linkState.handle = handle;
  // Mask 0, mode 0: the chip's plain mode, in which it passes the capture stream through.
  if ((status = d2xx.setBitMode(handle, 0, 0)) != FT_OK) return fail(OpenResult::ResetModeFailed, status);
  // The driver's USB IN transfers are sized like the reads; nothing is sent to the device.
  uint32_t readSize = static_cast<uint32_t>(sanitizedReadSize(settings.bufsize));
  if ((status = d2xx.setUSBParameters(handle, readSize, 0)) != FT_OK)
    return fail(OpenResult::TransferSizeFailed, status);
  if ((status = d2xx.setTimeouts(handle, kReadTimeoutMs, kWriteTimeoutMs)) != FT_OK)
    return fail(OpenResult::TimeoutsFailed, status);
  linkState.lastOpen = OpenResult::Opened;
  linkState.lastOpenStatus = FT_OK;
  return 0;
}

// The reader keeps its buffer: bytes left from the old size are served before the first read
// of the new one. A failure here shows as a failing read.
void reopen() {
  close();
  open();
  // The transfer size is set once more after the sequence; like the open's, its result is
  // left to the next read to show. A handle closed above is never passed on: the driver may
  // have freed what it pointed to.
  if (linkState.handle != nullptr) {
    uint32_t readSize = static_cast<uint32_t>(sanitizedReadSize(settings.bufsize));
    D2xxLibrary::functions.setUSBParameters(linkState.handle, readSize, 0);
  }
}

void close() {
  if (linkState.handle == nullptr) return;
  D2xxLibrary::functions.close(linkState.handle);
  linkState.handle = nullptr;
}

}  // namespace DeviceLink

namespace StreamReader {

ReaderState readerState;

namespace {

RefillResult endRefill(RefillResult result, FT_STATUS status, uint32_t fillCount) {
  readerState.lastRefill = result;
  readerState.lastReadStatus = status;
  readerState.fillCount = fillCount;
  readerState.readPosition = 0;
  return result;
}

}  // namespace

// The read size is checked here again, at the point of use, because it indexes the buffer.
RefillResult readBlock() {
  if (DeviceLink::linkState.handle == nullptr) return endRefill(RefillResult::NotOpen, FT_OK, 0);
  uint32_t readSize = static_cast<uint32_t>(sanitizedReadSize(settings.bufsize));
  uint32_t received = 0;
  FT_STATUS status =
      D2xxLibrary::functions.read(DeviceLink::linkState.handle, readerState.readBuffer, readSize, &received);
  if (status != FT_OK) return endRefill(RefillResult::ReadFailed, status, 0);
  if (received == 0) return endRefill(RefillResult::TimedOut, status, 0);
  if (received > readSize) return endRefill(RefillResult::Overlong, status, 0);
  return endRefill(RefillResult::BytesArrived, status, received);
}

}  // namespace StreamReader
