// The device link the viewer reads through. It passes every call on to what plays, the device
// or a stream file in its place, and while recording it writes every byte a read brought, as it
// arrived, straight to the recording's sink: so the recording holds exactly what the viewer
// read, up to the moment recording stops, whatever ends it, even a kill or a crash.
#pragma once
#include <cstdint>
#include <memory>

#include "clock.h"
#include "device_link.h"
#include "viewer.h"

// Where a recording goes: a file, written with no buffer of the program's own in between.
class RecordingSink {
 public:
  virtual ~RecordingSink() = default;
  // Writes all `count` bytes; 0, or the errno value of the failure.
  virtual int write(const uint8_t* bytes, uint32_t count) = 0;
  // Pushes what was written to the disk; 0, or the errno value of the failure.
  virtual int sync() = 0;
};

// A sink over an open file descriptor, which its owner keeps open while the sink is used.
class FileDescriptorSink final : public RecordingSink {
 public:
  explicit FileDescriptorSink(int descriptor) : descriptor_(descriptor) {}
  int write(const uint8_t* bytes, uint32_t count) override;
  int sync() override;

 private:
  int descriptor_;
};

class RecordingLink final : public DeviceLink {
 public:
  // How often what was written is pushed to the disk while recording: a power loss costs at
  // most this much of the stream, and the wait for the disk falls on few frames.
  static constexpr uint32_t kSyncPeriodMs = 3000;

  // `device` and `clock` outlive the link.
  RecordingLink(DeviceLink& device, Clock& clock)
      : device_(device), clock_(clock), source_(&device) {}
  ~RecordingLink() override { stopRecording(); }
  RecordingLink(const RecordingLink&) = delete;
  RecordingLink& operator=(const RecordingLink&) = delete;

  OpenResult open(uint32_t readSize) override { return source_->open(readSize); }
  void reopen(uint32_t readSize) override { source_->reopen(readSize); }
  void close() override { source_->close(); }
  // Recorded when bytes arrived.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // The viewer reading through this link plays `file`, a stream file loaded, instead of what
  // played, from its start and over and over; the device is closed. A recording holds the
  // device's stream alone: it stops here, as stopRecording() does.
  void playFile(std::unique_ptr<DeviceLink> file, Viewer& viewer, int32_t readSize);
  // The viewer plays the device again, opened afresh: bytes the device kept while the file
  // played would tear the first frame, and it may have been plugged in or out meanwhile. When
  // it cannot be opened, the file plays on, and the result says why.
  OpenResult playDevice(Viewer& viewer, int32_t readSize);
  bool playsDevice() const { return source_ == &device_; }

  // Records into `sink` from the next read on; the link owns it until the recording stops.
  void startRecording(std::unique_ptr<RecordingSink> sink);
  // Pushes the recording to the disk and ends it. False when that failed; the reason is in
  // failure(), and what was written before stays in the file.
  bool stopRecording();
  // False also after a write failed during a read, which stops the recording by itself.
  bool isRecording() const { return sink_ != nullptr; }
  // The errno value of the last recording's failure; 0 when it did not fail.
  int failure() const { return failure_; }

 private:
  bool sync();
  void fail(int error);

  DeviceLink& device_;
  Clock& clock_;
  DeviceLink* source_;
  std::unique_ptr<DeviceLink> file_;  // the file that plays, null while the device does
  std::unique_ptr<RecordingSink> sink_;
  uint32_t lastSync_ = 0;
  int failure_ = 0;
};
