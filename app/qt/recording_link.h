// The device link the viewer reads through. It passes every call on to what plays, the device
// or a stream file in its place, and while recording it writes every byte a read brought, as it
// arrived, straight to the recording file: so the recording holds exactly what the viewer read,
// up to the moment recording stops, whatever ends it, even a kill or a crash.
#pragma once
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <cstdint>
#include <memory>

#include "device_link.h"

class RecordingLink final : public DeviceLink {
 public:
  // How often what was written is pushed to the disk while recording: a power loss costs at
  // most this much of the stream, and the wait for the disk falls on few frames.
  static constexpr qint64 kSyncPeriodMs = 3000;

  explicit RecordingLink(DeviceLink& device) : device_(device), source_(&device) {}
  ~RecordingLink() override { stopRecording(); }

  OpenResult open(uint32_t readSize) override { return source_->open(readSize); }
  void reopen(uint32_t readSize) override { source_->reopen(readSize); }
  void close() override { source_->close(); }
  // Recorded when bytes arrived.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // Calls go to `file` from now on; to the device again when it is null.
  void play(DeviceLink* file) { source_ = file != nullptr ? file : &device_; }
  bool playsDevice() const { return source_ == &device_; }

  // Records into `file`, open for writing; the link owns it until the recording stops.
  void startRecording(std::unique_ptr<QFile> file);
  // Pushes the recording to the disk and closes it. False when that failed; the reason is in
  // failure(), and what was written before stays in the file.
  bool stopRecording();
  // False also after a write failed during a read, which stops the recording by itself.
  bool isRecording() const { return file_ != nullptr; }
  QString recordingName() const { return file_ != nullptr ? file_->fileName() : QString(); }
  // Why the last recording failed, with its file name; empty when it did not.
  const QString& failure() const { return failure_; }

 private:
  bool write(const uint8_t* bytes, uint32_t count);
  bool sync();
  void fail(int error);

  DeviceLink& device_;
  DeviceLink* source_;
  std::unique_ptr<QFile> file_;
  QElapsedTimer sinceSync_;
  QString failure_;
};
