// A device link for a program that must never wait for the device: the device is read on a
// thread of the link's own, with blocking reads of the read size, into a bounded buffer, and a
// wake-up descriptor (an eventfd) becomes readable when a whole frame has arrived or the device
// failed. Reads never block: they serve whole frames, and bytes of a marker search (junk, a
// dead input) so that the decoder skips them, but never part of a frame still arriving, so a
// decode that starts on what a read served runs to the frame's end without waiting.
//
// The buffer drops what finds it full, as the chip does, so what it holds stays one unbroken
// piece of the stream up to the gap; the bytes dropped are counted and reported on stderr once
// per episode. When the buffer is half full without a whole frame (a frame restarted without
// end) everything in it is served, so that it cannot fill up with bytes nobody may take.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "clock.h"
#include "device_link.h"
#include "dropped_bytes.h"
#include "frame_format.h"

class LiveLink final : public DeviceLink {
 public:
  static constexpr uint32_t kBufferBytes = 1u << 20;  // about 9 s of the stream
  // Bytes of a marker search wake the reader in lumps this large: a dead input sends nothing
  // else, and one wake-up per read of it would cost more than skipping it.
  static constexpr uint32_t kSearchWakeBytes = 4096;

  // `device` and `clock` outlive the link; the link alone uses `device` from now on.
  LiveLink(DeviceLink& device, Clock& clock, uint32_t bufferBytes = kBufferBytes);
  ~LiveLink() override;
  LiveLink(const LiveLink&) = delete;
  LiveLink& operator=(const LiveLink&) = delete;

  // Each stops the reading thread first (it ends after the read under way), so the device is
  // never used by two threads; open and reopen start it again while reading is on.
  OpenResult open(uint32_t readSize) override;
  // Bytes that arrived before are kept and served first.
  void reopen(uint32_t readSize) override;
  void close() override;
  // Never waits. BytesArrived with what may be served now; NothingWaiting when none; once the
  // device has failed and everything before the failure was served, the failure.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;
  bool lastFrameArrival(uint32_t& milliseconds) const override;
  // The same on the steady clock, in microseconds since its epoch, for timing traces.
  int64_t lastFrameArrivalMicros() const;

  // Reading starts when the reader is ready: until then the device, or its driver, holds
  // what arrives, as for a reader that blocks.
  void setReading(bool on);

  // Readable while a whole frame, a lump of search bytes or a failure waits to be read.
  int wakeDescriptor() const { return wake_; }
  // Makes the descriptor unreadable again, before the waiting bytes are read.
  void clearWake();
  uint64_t droppedBytes() const;

 private:
  void startReading();
  void stopReading();
  void readUntilStopped(uint32_t readSize);
  bool push(const uint8_t* bytes, uint32_t length);
  void signalWake();

  DeviceLink& device_;
  Clock& clock_;
  int wake_ = -1;
  std::thread reading_;
  bool readingOn_ = false;
  bool deviceOpen_ = false;
  uint32_t readSize_ = 0;

  mutable std::mutex mutex_;  // guards everything below
  bool stopping_ = false;
  ReadResult failure_ = ReadResult::BytesArrived;  // how the device's reads ended, if they did
  std::vector<uint8_t> buffer_;
  uint64_t taken_ = 0;     // stream offset of the oldest byte held (bytes before were read)
  uint64_t arrived_ = 0;   // stream offset just after the newest byte held
  uint64_t servable_ = 0;  // bytes before this offset may be read
  uint64_t wokenAt_ = 0;   // servable_ when the reader was last woken
  FrameFormat::FrameWalk walk_;
  // Frame ends not yet read past, with the clock when their last byte arrived: a ring as long
  // as the buffer can hold frames (a whole frame is more than kMinFrameBytes).
  struct FrameEnd {
    uint64_t offset;
    uint32_t arrival;
    int64_t arrivalMicros;
  };
  static constexpr uint32_t kMinFrameBytes = 256;
  std::vector<FrameEnd> frameEnds_;
  size_t firstEnd_ = 0;
  size_t endCount_ = 0;
  uint32_t lastFrameArrival_ = 0;
  int64_t lastFrameArrivalMicros_ = 0;
  bool frameHandedOver_ = false;
  DroppedBytes dropped_;
};
