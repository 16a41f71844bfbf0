// A device link over a capture stream saved in a file (a recording), served over and over. The
// file is read from disk as it plays, through two small windows: recordings have no length
// limit (about 400 MB an hour), so neither its size in memory nor a read of the whole file
// before it plays would do. Nothing paces the reads: the viewer takes one frame per tick, so
// the file plays at the tick rate.
//
// The bytes served are the file's up to the end of its last whole frame. A recording starts
// and stops wherever a read did, so it usually ends inside a frame; played on, that cut frame
// would take its missing cells from the file's first bytes and leave a garbled picture at
// every loop. Where that end is, is found as playback reaches it: a frame is walked ahead of
// the bytes served and served once it is whole, while bytes of a marker search are served as
// they come (a dead input may have sent gigabytes of them). Bytes before the first frame
// marker are served as they are: the decoder's marker search skips them, as it does when it
// reads the file once from its start.
//
// A file cut short while it plays (truncated, or rewritten shorter) plays on to the end of the
// last whole frame before its new end and loops there; with no whole frame left, reads fail
// and noWholeFrameLeft() says why.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "device_link.h"
#include "file_window.h"
#include "frame_format.h"

class StreamFileLink final : public DeviceLink {
 public:
  enum class LoadResult {
    Loaded,
    NotFound,      // no file at that path
    NotRegular,    // a directory, a FIFO, a device: only regular files are played
    Unreadable,    // the file cannot be opened or read (the system's reason in loadError())
    NoWholeFrame,  // the file holds no whole frame: nothing to play
  };

  StreamFileLink() = default;
  ~StreamFileLink() override;
  StreamFileLink(const StreamFileLink&) = delete;
  StreamFileLink& operator=(const StreamFileLink&) = delete;

  // Opens the file at `path` without waiting on it (a FIFO or a device could block for good)
  // and finds its first whole frame; a failed load leaves the link closed with nothing loaded.
  LoadResult load(const char* path);
  // The errno value of an Unreadable load.
  int loadError() const { return loadError_; }

  // Opens what load() found, from the file's start; DeviceNotFound when nothing is loaded. The
  // read size is the reader's affair: any count is served.
  OpenResult open(uint32_t readSize) override;
  // A new read size changes nothing here: the file plays on from where it is.
  void reopen(uint32_t) override {}
  void close() override { open_ = false; }
  // Always all `count` bytes, wrapping from the end of the last whole frame to the start;
  // ReadFailed when the file can no longer be read there, or was cut to no whole frame.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // Bytes played in a loop: the end of the last whole frame, known once playback reached the
  // file's end (0 before).
  uint64_t playedSize() const { return walkDone_ ? playedSize_ : 0; }
  // The file was cut short while it played, to no whole frame.
  bool noWholeFrameLeft() const { return noWholeFrameLeft_; }

 private:
  bool walkOn();
  bool followCut();
  void restartWalk();
  void reset();

  int file_ = -1;
  int loadError_ = 0;
  uint64_t fileSize_ = 0;
  bool open_ = false;
  FileWindow served_, walked_;
  uint64_t position_ = 0;  // the next byte served
  // The walk ahead: bytes before walkPosition_ are walked; those before servable_ may be served.
  FrameFormat::FrameWalk walk_;
  uint64_t walkPosition_ = 0;
  uint64_t servable_ = 0;
  uint64_t lastFrameEnd_ = 0;  // the end of the last whole frame walked
  bool walkDone_ = false;      // the walk reached the file's end
  uint64_t playedSize_ = 0;    // then: lastFrameEnd_
  bool noWholeFrameLeft_ = false;
  static constexpr uint64_t kSizeCheckBytes = 16384;  // about 140 ms of the stream
  uint64_t servedSinceSizeCheck_ = 0;
};
