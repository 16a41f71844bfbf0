// The device link the viewer reads through. It passes every call on to what plays, the device
// or a stream file in its place, and while recording it appends every byte a read brought, as
// it arrived, to the recording: so the recording holds exactly what the viewer read, up to the
// moment recording stops, whatever ends it.
#pragma once
#include <QFile>
#include <QString>
#include <cstdint>
#include <memory>

#include "device_link.h"

class RecordingLink final : public DeviceLink {
 public:
  // Bytes kept before they are written: about half a second of the device's stream, so that
  // writes are few and an end the program cannot catch (a crash, a kill) costs little.
  static constexpr int kKeptBytes = 64 * 1024;

  explicit RecordingLink(DeviceLink& device) : device_(device), source_(&device) {}
  // Writes out what is kept: a recording is never left short.
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
  // Writes out what is kept and closes the recording. False when that write failed; the
  // reason is in failure(), and what was written before stays in the file.
  bool stopRecording();
  // False also after a write failed during a read, which stops the recording by itself.
  bool isRecording() const { return file_ != nullptr; }
  QString recordingName() const { return file_ != nullptr ? file_->fileName() : QString(); }
  // Why the last recording failed, with its file name; empty when it did not.
  const QString& failure() const { return failure_; }

 private:
  bool writeKept();

  DeviceLink& device_;
  DeviceLink* source_;
  std::unique_ptr<QFile> file_;
  std::unique_ptr<uint8_t[]> kept_;  // kKeptBytes, allocated when the first recording starts
  int keptCount_ = 0;
  QString failure_;
};
