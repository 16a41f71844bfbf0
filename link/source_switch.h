// The link between the viewer and what plays: the device, or a stream file in its place. It
// only passes calls on; when to open, close and restart around a switch is its owner's affair.
#pragma once
#include <cstdint>
#include <memory>

#include "device_link.h"

class SourceSwitch final : public DeviceLink {
 public:
  // `device` outlives the switch.
  explicit SourceSwitch(DeviceLink& device) : device_(device), source_(&device) {}

  OpenResult open(uint32_t readSize) override { return source_->open(readSize); }
  void reopen(uint32_t readSize) override { source_->reopen(readSize); }
  void close() override { source_->close(); }
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override {
    return source_->read(buffer, count, received);
  }
  bool lastFrameArrival(uint32_t& milliseconds) const override {
    return source_->lastFrameArrival(milliseconds);
  }

  // Calls go to `file` from now on, or to the device when it is null; returns the file that
  // played before (null when the device did), as it was left.
  std::unique_ptr<DeviceLink> select(std::unique_ptr<DeviceLink> file) {
    source_ = file != nullptr ? file.get() : &device_;
    std::swap(file, file_);
    return file;
  }
  bool playsDevice() const { return file_ == nullptr; }

 private:
  DeviceLink& device_;
  DeviceLink* source_;
  std::unique_ptr<DeviceLink> file_;  // the file that plays, null while the device does
};
