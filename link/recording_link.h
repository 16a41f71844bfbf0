// Recording the stream the viewer reads: where a recording goes, and the link that writes it.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "clock.h"
#include "device_link.h"

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

// The link that records the device's stream: while recording it writes every byte a read
// brought, as it arrived, straight to the recording's sink, so the recording holds exactly what
// was read from the device, up to the moment recording stops, whatever ends it, even a kill or
// a crash. Its reads may come from another thread than its other calls (the live link's
// reading thread). Pushing the file to the disk can take long on a slow disk: it happens on a
// thread of the tee's own, so it holds up neither the reads nor the picture.
class RecordingTee final : public DeviceLink {
 public:
  // How often what was written is pushed to the disk while recording: a power loss costs at
  // most this much of the stream.
  static constexpr uint32_t kSyncPeriodMs = 3000;

  // `source` and `clock` outlive the link.
  RecordingTee(DeviceLink& source, Clock& clock) : source_(source), clock_(clock) {}
  ~RecordingTee() override { stopRecording(); }
  RecordingTee(const RecordingTee&) = delete;
  RecordingTee& operator=(const RecordingTee&) = delete;

  OpenResult open(uint32_t readSize) override { return source_.open(readSize); }
  void reopen(uint32_t readSize) override { source_.reopen(readSize); }
  void close() override { source_.close(); }
  // Recorded when bytes arrived.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // Records into `sink` from the next read on; the link owns it until the recording stops.
  // The sink's write and sync may be called from two threads at once.
  void startRecording(std::unique_ptr<RecordingSink> sink);
  // Pushes the recording to the disk, ends it and lets the sink go. False when that failed, or
  // when the recording had failed before; the reason is in failure(), and what was written
  // before stays in the file.
  bool stopRecording();
  // False also after a write or a push to the disk failed, which stops the recording by itself
  // (the sink is let go at stopRecording()).
  bool isRecording() const;
  // The errno value of the last recording's failure; 0 when it did not fail.
  int failure() const;

 private:
  void syncWhenAsked();

  DeviceLink& source_;
  Clock& clock_;
  std::thread syncing_;
  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable asked_;
  std::unique_ptr<RecordingSink> sink_;
  bool recording_ = false;
  uint32_t lastSync_ = 0;
  int failure_ = 0;
  bool syncWanted_ = false;
  bool syncEnds_ = false;
  int syncError_ = 0;  // of a push on the thread, not yet seen by a read
};
