// The viewer's portable core, which every front end owns one of: the stream format, decoding
// into the picture, the title's statistics, the settings record and the seam to the device.
// No OS header, no process-wide state, no allocation after allocateBuffers.
#pragma once
#include <cstdint>

#include "clock.h"
#include "device_link.h"
#include "frame_buffer.h"
#include "frame_decoder.h"
#include "frame_stats.h"
#include "stream_reader.h"

// One frame of the device's 60 a second: the Windows program's timer and a stream file's pace.
constexpr int kFramePeriodMs = 16;

// What one timer tick did.
enum class TickResult {
  FrameShown,    // a frame was decoded: repaint
  NewTitle,      // the same, and title() has new statistics
  NoFrame,       // no whole frame in this tick's share of the stream: try again next tick
  DeviceFailed,  // the device failed or fell silent: the program ends
};

// What decoding the frames waiting on a link that never waits did.
struct LiveResult {
  int frames = 0;         // frames decoded: repaint when not 0, the newest is in the picture
  bool newTitle = false;  // title() has new statistics
  bool failed = false;    // the device failed or fell silent: the program ends
};

class Viewer {
 public:
  Viewer(DeviceLink& link, Clock& clock) : link_(link), clock_(clock), reader_(link) {}
  // The title points into the viewer's own statistics: a copy's would point into the original.
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  OpenResult openDevice(int32_t readSize) {
    reader_.setReadSize(readSize);
    return link_.open(reader_.readSize());
  }
  // Takes effect at the next read; bytes already read are served first.
  void changeReadSize(int32_t readSize) {
    reader_.setReadSize(readSize);
    link_.reopen(reader_.readSize());
  }
  void closeDevice() { link_.close(); }

  // What the title's frame rate is taken from; before the first frame.
  void setTitleRate(FrameStats::Rate rate) { stats_ = FrameStats(rate); }

  // The cell history and the picture, zeroed; false when memory is short.
  bool allocateBuffers() { return decoder_.allocate() && picture_.allocate(); }

  // After the link switched to another stream (a file played instead of the device, or the
  // device again), with the buffers allocated: bytes left in the read buffer belong to the old
  // stream, and delta frames before the new one's first key frame must add to cleared cells and
  // pixels, as after start-up.
  void restartStream() {
    const uint8_t* unread = nullptr;
    reader_.consume(reader_.unread(unread));
    decoder_.reset();
    picture_.clear();
  }

  // The whole picture drawn again in `mode`, from the cells of the frames decoded so far: when
  // the scale or colour mode changes between frames.
  void redraw(PictureMode mode) { decoder_.redraw(picture_, mode); }

  // Decodes one frame at the given scale and colour mode.
  TickResult tick(PictureMode mode) {
    StreamReader::Source source{&reader_};
    FrameDecoder::Result result = decoder_.decodeFrame(source, picture_, mode, clock_);
    stats_.countBytes(decoder_.lastCallBytes());
    bytesDecoded_ += decoder_.lastCallBytes();
    if (result == FrameDecoder::Result::SourceFailed) return TickResult::DeviceFailed;
    if (result == FrameDecoder::Result::NoFrame) return TickResult::NoFrame;
    // A frame decoded late counts at its arrival, so the rate stays the stream's.
    uint32_t arrival = 0;
    if (!link_.lastFrameArrival(arrival)) arrival = clock_.milliseconds();
    const char* title = stats_.frameCompleted(arrival);
    if (title == nullptr) return TickResult::FrameShown;
    title_ = title;
    return TickResult::NewTitle;
  }

  // Counts a frame decoded outside tick() (a stream file's player playing on; not the frames a
  // jump decodes on its way) in the title's statistics, with the stream bytes it took.
  TickResult countShownFrame(uint32_t bytes) {
    stats_.countBytes(bytes);
    const char* title = stats_.frameCompleted(clock_.milliseconds());
    if (title == nullptr) return TickResult::FrameShown;
    title_ = title;
    return TickResult::NewTitle;
  }

  // Decodes every frame waiting on a link whose reads never wait (ReadResult::NothingWaiting
  // when it has nothing), and the bytes of a marker search it holds; a frame whose bytes are
  // still arriving is left for the next call.
  LiveResult decodeWaiting(PictureMode mode) {
    LiveResult result;
    for (;;) {
      const TickResult frame = tick(mode);
      if (frame == TickResult::DeviceFailed) {
        result.failed = reader_.lastRefill() != ReadResult::NothingWaiting;
        return result;
      }
      if (frame == TickResult::NoFrame) continue;
      ++result.frames;
      result.newTitle = result.newTitle || frame == TickResult::NewTitle;
    }
  }

  const char* title() const { return title_; }
  // Stream bytes the decoder has taken since the viewer was made.
  uint64_t bytesDecoded() const { return bytesDecoded_; }
  const FrameBuffer& picture() const { return picture_; }
  // For what decodes frames outside tick(), into the picture the window shows: a stream file's
  // player going to a frame.
  FrameBuffer& picture() { return picture_; }
  const StreamReader& reader() const { return reader_; }
  FrameDecoder& decoder() { return decoder_; }

 private:
  DeviceLink& link_;
  Clock& clock_;
  StreamReader reader_;
  FrameDecoder decoder_;
  FrameBuffer picture_;
  FrameStats stats_;
  const char* title_ = FrameStats::kInitialTitle;
  uint64_t bytesDecoded_ = 0;
};
