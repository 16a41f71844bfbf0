// A device link over a capture stream saved in a file (a recording): the file is read whole
// when it is loaded, and reads are served from memory, over and over. Nothing paces the reads:
// the viewer takes one frame per tick, so the file plays at the tick rate.
//
// The bytes served are the file's up to the end of its last whole frame. A recording starts
// and stops wherever a read did, so it usually ends inside a frame; played on, that cut frame
// would take its missing cells from the file's first bytes and leave a garbled picture at
// every loop. Bytes before the first frame marker are served as they are: the decoder's marker
// search skips them, as it does when it reads the file once from its start.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "device_link.h"

class StreamFileLink final : public DeviceLink {
 public:
  enum class LoadResult {
    Loaded,
    Unreadable,    // the file cannot be opened or read, or memory for it is short
    NoWholeFrame,  // the file holds no whole frame: nothing to play
  };

  // Reads the file at `path` whole; a failed load leaves the link closed with nothing loaded.
  LoadResult load(const char* path);

  // Opens what load() read; DeviceNotFound when nothing is loaded. The read size is the
  // reader's affair: any count is served.
  OpenResult open(uint32_t readSize) override;
  // A new read size changes nothing here: the file plays on from where it is.
  void reopen(uint32_t) override {}
  void close() override { open_ = false; }
  // Always all `count` bytes, wrapping from the end of the last whole frame to the start.
  ReadResult read(uint8_t* buffer, uint32_t count, uint32_t& received) override;

  // Bytes played in a loop.
  size_t playedSize() const { return playedSize_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t playedSize_ = 0;
  size_t position_ = 0;
  bool open_ = false;
};
