// A stream file reviewed frame by frame: go to any frame, step, jump, play on and loop, each
// frame exactly the picture that decoding the file from its start up to it gives. It decodes
// into a decoder and picture it is given (the viewer's); pace, pause and speed are its
// caller's. The file is read from disk as frames are wanted, and the frames are found as it is
// read (frame_index.h): the total is known once playback or a jump reached the file's end.
//
// A file cut short while it plays (truncated, or rewritten shorter) shows as a read that comes
// back empty: its frames are then found again up to its new end, the frame asked for is taken
// from what is left (the first frame when playing on past the new end), and a file left with
// no whole frame is reported as such.
#pragma once
#include <cstdint>

#include "clock.h"
#include "file_window.h"
#include "frame_decoder.h"
#include "frame_index.h"

class StreamFilePlayer {
 public:
  enum class LoadResult {
    Loaded,
    NotFound,      // no file at that path
    NotRegular,    // a directory, a FIFO, a device: only regular files are played
    Unreadable,    // the file cannot be opened or read (the system's reason in loadError())
    NoWholeFrame,  // the file holds no whole frame: nothing to play
  };
  enum class Result {
    Shown,         // the picture holds the frame shownFrame() says
    NoWholeFrame,  // the file was cut and holds no whole frame any more: nothing to play
    ReadFailed,    // the file cannot be read (the system's reason in readError())
  };

  // `decoder` and `picture` are allocated and outlive the player; it owns them between its
  // calls and the caller's paints, and clears them for frames before the file's first key frame.
  StreamFilePlayer(FrameDecoder& decoder, FrameBuffer& picture) : decoder_(decoder), picture_(picture) {}
  ~StreamFilePlayer();
  StreamFilePlayer(const StreamFilePlayer&) = delete;
  StreamFilePlayer& operator=(const StreamFilePlayer&) = delete;

  // Opens the file at `path` without waiting on it (a FIFO or a device could block for good)
  // and finds its first whole frame; nothing is shown yet. A failed load leaves nothing loaded.
  LoadResult load(const char* path);
  int loadError() const { return loadError_; }

  // Shows frame `frame`, clamped to the first and the last: decodes from the last key frame at
  // or before it (or from the frame shown, when that is nearer), then the frames up to it, the
  // ones on the way drawn as little as can be. The caller repaints once.
  Result goTo(int64_t frame, PictureMode mode) { return show(frame, false, mode); }
  // The frame after the one shown, or the first after the last: playing on, or a step forward.
  Result next(PictureMode mode) { return show(shown_ + 1, true, mode); }
  Result previous(PictureMode mode) { return goTo(shown_ - 1, mode); }
  // The last frame; the file is walked to its end if playback has not been there yet.
  Result goToEnd(PictureMode mode) { return goTo(kLastFrame, mode); }

  // The frame in the picture, counted from 0; -1 before the first is shown.
  int64_t shownFrame() const { return shown_; }
  // Whole frames found so far: all of them once totalKnown().
  int64_t framesFound() const { return index_.frames(); }
  bool totalKnown() const { return index_.complete(); }
  // Whether the file has frame `frame`, walked as far as need be; false also when it cannot
  // be read (readError()).
  bool hasFrame(int64_t frame);
  int readError() const { return readError_; }
  // Key-frame start points kept: the index's memory is about 32 bytes each.
  size_t startPoints() const { return index_.startPoints(); }

  static constexpr int64_t kLastFrame = INT64_MAX / 2;

 private:
  enum class Outcome { Done, NoFrames, Unreadable };
  struct StillClock final : Clock {
    uint32_t milliseconds() override { return 0; }
  };
  // The decoder's byte source: the file from `position` to `end`, through a window.
  struct Cursor {
    int file;
    FileWindow* window;
    uint64_t position;
    uint64_t end;
  };
  struct Source {
    Cursor* cursor;
    size_t unread(const uint8_t*& bytes) const {
      return cursor->window->bytesAt(cursor->file, cursor->position, cursor->end, bytes);
    }
    void consume(size_t count) { cursor->position += count; }
    int nextByte(uint8_t& byte) {
      const uint8_t* bytes = nullptr;
      if (unread(bytes) == 0) return 1;
      byte = *bytes;
      ++cursor->position;
      return 0;
    }
  };

  Result show(int64_t frame, bool wrap, PictureMode mode);
  Outcome tryShow(int64_t frame, bool wrap, PictureMode mode);
  void startDecodingAt(const FrameIndex::StartPoint* start);
  bool findFrames(int64_t count);
  bool followCut();
  void reset();

  FrameDecoder& decoder_;
  FrameBuffer& picture_;
  StillClock clock_;
  int file_ = -1;
  int loadError_ = 0;
  int readError_ = 0;
  uint64_t fileSize_ = 0;
  FileWindow walked_, decoded_;
  FrameIndex index_;
  Cursor cursor_ = {-1, &decoded_, 0, 0};
  int64_t shown_ = -1;  // also -1 when a decode broke off and the cells are in no frame's state
};
