// The capture device's USB chip as the bus sees it: the stream arrives at the device's pace into
// the chip's receive buffer, and bulk IN transfers the host has asked for take it out in packets
// that each start with the chip's two modem-status bytes. What finds the buffer full is lost, as
// on the real chip; the chip counts it and says where in the stream it was.
//
// Time is the chip's own: advanceTo() replays what happened since the last call in steps much
// shorter than the time the buffer takes to fill, so a late call (a busy machine) loses nothing a
// waiting transfer would have taken, and a host that had no transfer waiting loses what it would
// lose on real hardware.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "frame_source.h"

// Where the stream comes from and how fast: the test pattern, or a stream file played once (then
// silence) or looped, at a constant byte rate, as a serial line delivers it: `bytesPerSecond`,
// or, left 0, the stream's mean frame size (FrameSource::measure) times `framesPerSecond`, so
// that frames come at that rate on average. A key frame is then no burst that no chip could take
// in.
struct StreamSource {
  std::string file;  // empty: the test pattern
  bool loop = false;
  uint32_t framesPerSecond = 60;
  uint32_t bytesPerSecond = 0;

  bool load(std::string& error);
  // The next frame's bytes; false when a file played once has ended.
  bool nextFrame(const uint8_t*& bytes, size_t& size) { return frames_.nextFrame(bytes, size); }

 private:
  FrameSource frames_;
};

class UsbChip {
 public:
  using Time = std::chrono::steady_clock;
  static constexpr uint8_t kModemStatus[2] = {0x01, 0x60};
  static constexpr auto kStep = std::chrono::microseconds(100);

  // How the chip is built, and when it fails.
  struct Config {
    uint32_t packetBytes = 64;  // 512 on a high-speed chip
    uint32_t bufferBytes = 256;
    Time::duration stopAt = Time::duration::max();   // the stream stops, the chip stays
    Time::duration stallAt = Time::duration::max();  // bulk IN answers with a stall from then
  };

  // A bulk IN transfer, finished: its data (status bytes included) or a stall.
  struct Finished {
    uint32_t sequence;
    bool stalled;
    std::vector<uint8_t> data;
  };

  // `log` gets one line per event; `sent` the stream bytes that went out, in order, as each
  // transfer finishes. Either may be null.
  UsbChip(StreamSource& source, const Config& config, Time::time_point start, FILE* log, FILE* sent);

  void advanceTo(Time::time_point now);
  void submitIn(uint32_t sequence, uint32_t length, Time::time_point now);
  // False when the transfer has already finished or finishes now with what it holds.
  bool unlinkIn(uint32_t sequence);
  std::vector<Finished> takeFinished();
  // About how long until the transfer in front can finish: when the stream will have filled
  // it, or sooner when the latency timer will run out before the next packet is there.
  Time::duration untilFrontFinishes() const;

  // The chip's vendor requests; false for one it does not know, which the caller stalls.
  // `reply` gets the data of an IN request.
  bool vendorRequest(uint8_t request, uint16_t value, uint16_t index, std::vector<uint8_t>& reply);
  // The chip loses power, unplugged or plugged in again: what it held and the transfers the host
  // had asked for are gone, and its latency timer and bit mode are back at their defaults. The
  // stream goes on arriving, lost while nobody reads it.
  void powerCycle();
  // Writes the closing figures into the log: what went out and what was dropped.
  void logTotals();

  uint64_t droppedWhileReading() const { return droppedWhileReading_; }
  uint64_t sentBytes() const { return sentBytes_; }

 private:
  struct Transfer {
    uint32_t sequence;
    uint32_t length;
    Time::duration submittedAt;
    std::vector<uint8_t> data;
    std::vector<uint8_t> streamBytes;  // the same without the status bytes
  };

  void finish(Transfer&& transfer);
  void arrive(Time::duration at);
  void serveTransfer(Time::duration at);
  void sendPacket(Transfer& transfer, uint32_t streamBytes, Time::duration at);
  void logDropRun(Time::duration at);
  void settlePendingDrops(bool hostWasReading);
  void purge();

  StreamSource& source_;
  Config config_;
  Time::time_point start_;
  Time::duration now_{};
  FILE* log_;
  FILE* sent_;

  // The stream: the frame arriving, how much of it has arrived, when it started.
  const uint8_t* frame_ = nullptr;
  size_t frameSize_ = 0;
  size_t frameArrived_ = 0;
  Time::duration frameStart_{};
  Time::duration framePeriod_{};
  bool silent_ = false;
  uint64_t streamOffset_ = 0;  // of the next byte to arrive

  std::deque<uint8_t> buffer_;
  std::deque<Transfer> pending_;
  std::vector<Finished> finished_;
  Time::duration lastPacketAt_{};
  uint8_t latencyMs_ = 16;
  uint8_t bitMode_ = 0;

  // Whether the host has asked for data since the last reset; drops while it reads are held
  // until the next packet goes out (it went on reading: they count) or the next reset or the
  // end (it had stopped: they do not).
  bool reading_ = false;
  Time::duration readingSince_{};
  uint64_t pendingDrops_ = 0;
  uint64_t droppedWhileReading_ = 0;
  uint64_t droppedOtherwise_ = 0;
  uint64_t dropRunStart_ = 0;
  uint64_t dropRunLength_ = 0;
  Time::duration dropRunHostIdle_{};
  Time::duration idleSince_{};  // when the last transfer finished with none behind it
  uint64_t sentBytes_ = 0;
};
