// Frame decoding: the marker search, run pairs, key and delta frames, the key-frame restart and
// the cell history, one frame per call, into a FrameBuffer (frame_buffer.h) through its pixel
// stage. The stream format itself is in frame_format.h.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "clock.h"
#include "frame_buffer.h"
#include "frame_format.h"

// Runs are mostly short: vectorised fills would cost more in set-up than they save, and their
// registers would crowd the per-pair loop.
#if defined(__GNUC__) && !defined(__clang__)
#define KESTRAVU_SCALAR_LOOPS __attribute__((optimize("no-tree-vectorize")))
#else
#define KESTRAVU_SCALAR_LOOPS
#endif

namespace FrameDecoding {

using namespace FrameFormat;

enum class Result { FrameComplete, SourceFailed, NoFrame };

constexpr int kCellHistoryBytes = 65536;

// A stream that never completes a frame (no marker, or endless restarts) must not hold the
// program's one thread: a call gives up after this many bytes, about nine worst-case frames.
constexpr uint32_t kMaxBytesPerCall = 1048576;
// Nor may such a stream hold it for long when it trickles in: a call that is still searching
// for a marker, or restarting, after this long gives up too. A legal frame never gets there
// unless the device sends less than a frame a second. Checked every kPatienceCheckBytes bytes
// of the search and at every restart, so the clock is seldom read.
constexpr uint32_t kPatienceMs = 1000;
constexpr uint32_t kPatienceCheckBytes = 1024;

// Long key runs are filled out of line with the wide stores that pay off for them.
constexpr size_t kLongRun = 16;
template <bool Wide>
__attribute__((noinline)) void fillLongRun(uint32_t* out, uint8_t* cells, size_t count, uint8_t value,
                                           uint64_t pair) {
  std::memset(cells, value, count);
  for (size_t i = 0; i < count; ++i) storeCell<Wide>(out + i * kCellColumns<Wide>, pair);
}

// Writes a run's `count` (at least 1) cells that lie on one picture line, to the history and
// the picture.
template <bool Wide, bool Screen4>
inline void writeSpan(uint32_t* out, uint8_t* cells, size_t count, uint8_t kind, uint8_t value,
                      uint32_t& screen4Colour) {
  uint8_t* const end = cells + count;
  // Key frames are the costly ones (every cell written), so their path is the straight one.
  if (__builtin_expect(kind == kKeyFrame, 1)) {
    const uint64_t pair = cellPair<Screen4>(value, screen4Colour);
    if (count > kLongRun) return fillLongRun<Wide>(out, cells, count, value, pair);
    do {
      *cells = value;
      storeCell<Wide>(out, pair);
      out += kCellColumns<Wide>;
    } while (++cells != end);
    return;
  }
  if (value == 0 && !Screen4) return;  // unchanged cells keep their pixels in palette mode
  do {
    uint8_t cell = static_cast<uint8_t>(*cells + value);
    *cells = cell;
    storeCell<Wide>(out, cellPair<Screen4>(cell, screen4Colour));
    out += kCellColumns<Wide>;
  } while (++cells != end);
}

// Where the next cell goes: its history byte, the end of its line, and its first pixel.
struct CellCursor {
  uint8_t* cell;
  uint8_t* lineEnd;
  uint32_t* out;
};

// A run that reaches the end of its line, and may go on over the next lines; what is left of it
// at the frame's end is dropped. Kept out of line: it is rare, and the per-pair loop stays small.
// Moves `at` on to where the next cell goes: the frame's end once the last cell is done.
template <bool Wide, bool Screen4>
KESTRAVU_SCALAR_LOOPS __attribute__((noinline)) void writeRunAcrossLines(
    CellCursor& at, const uint8_t* frameEnd, size_t run, uint8_t kind, uint8_t value,
    uint32_t& screen4Colour) {
  for (;;) {
    size_t span = std::min(run, static_cast<size_t>(at.lineEnd - at.cell));
    writeSpan<Wide, Screen4>(at.out, at.cell, span, kind, value, screen4Colour);
    at.cell += span;
    at.out += span * kCellColumns<Wide>;
    run -= span;
    if (at.cell == frameEnd || at.cell != at.lineEnd) return;
    at.lineEnd += kCellsPerLine;
    at.out += kNextLineStep<Wide>;
    if (run == 0) return;
  }
}

// Sources that hold bytes in memory may show them: `size_t unread(const uint8_t*& bytes)` shows
// the bytes that can be had without blocking and `consume(n)` uses up n of them. The pair loop
// reads shown bytes directly, two at a time, instead of calling `nextByte` for each.
template <class Source, class = void>
struct ShowsUnread : std::false_type {};
template <class Source>
struct ShowsUnread<Source, std::void_t<decltype(std::declval<Source&>().consume(size_t{}))>>
    : std::true_type {};

// Where one call writes, and what it reports back.
struct CallContext {
  uint8_t* cellHistory;
  uint32_t* pixels;
  Clock& clock;
  uint32_t callStart;   // the clock when the call began
  uint32_t bytesTaken;  // stream bytes the call has taken so far
};

// The frame after its marker: run pairs until the last cell. Scale and mode are fixed for the
// call, so each combination gets a loop of its own. The loop works on a local copy of the
// source: the cell history's byte stores could alias it and force a reload per byte.
template <bool Wide, bool Screen4, class Source>
KESTRAVU_SCALAR_LOOPS Result decodePairs(Source& source, uint8_t kind, CallContext& call) {
  Source input = source;
  bool outOfPatience = false;
  uint32_t screen4Colour = 0x000000;  // lives across restarts; black before the first table byte
  const CellCursor frameStart = {call.cellHistory, call.cellHistory + kCellsPerLine,
                                 pictureRow(call.pixels, 0, Wide)};
  const uint8_t* const frameEnd = frameStart.cell + kCellsPerFrame;
  CellCursor at = frameStart;
  // Applies one pair; true once the frame's last cell is done, or when restarts went on too long.
  auto applyPair = [&](uint8_t value, uint8_t count) {
    if (isRestartPair(value, count)) {  // restart at the top-left as a key frame
      kind = kKeyFrame;
      at = frameStart;
      outOfPatience = call.clock.milliseconds() - call.callStart > kPatienceMs;
      return outOfPatience;
    }
    const size_t run = ((count - 1u) & 0xFFu) + 1;  // a count byte of 0 stands for 256, branch-free
    // Most runs end on the line they start on.
    if (__builtin_expect(run < static_cast<size_t>(at.lineEnd - at.cell), 1)) {
      writeSpan<Wide, Screen4>(at.out, at.cell, run, kind, value, screen4Colour);
      at.cell += run;
      at.out += run * kCellColumns<Wide>;
      return false;
    }
    CellCursor moved = at;  // a copy, so that `at` itself can stay in registers
    writeRunAcrossLines<Wide, Screen4>(moved, frameEnd, run, kind, value, screen4Colour);
    at = moved;
    return at.cell == frameEnd;
  };
  uint32_t bytesLeft = kMaxBytesPerCall - call.bytesTaken;
  Result result = Result::FrameComplete;
  for (;;) {
    if constexpr (ShowsUnread<Source>::value) {
      const uint8_t* bytes = nullptr;
      const uint8_t* pair = nullptr;
      size_t shown = std::min<size_t>(input.unread(bytes), bytesLeft) & ~size_t{1};
      bool complete = false;
      const uint8_t* const end = bytes + shown;
      for (pair = bytes; pair != end;) {
        // A busy key picture is mostly one-cell pairs, which can never be the restart pair:
        // they get a loop of their own, up to the line's last cell.
        while (kind == kKeyFrame && pair != end && pair[1] == 1 && at.cell + 1 < at.lineEnd) {
          *at.cell++ = pair[0];
          storeCell<Wide>(at.out, cellPair<Screen4>(pair[0], screen4Colour));
          at.out += kCellColumns<Wide>;
          pair += 2;
        }
        if (pair == end) break;
        complete = applyPair(pair[0], pair[1]);
        pair += 2;
        if (complete) break;
      }
      input.consume(static_cast<size_t>(pair - bytes));
      bytesLeft -= static_cast<uint32_t>(pair - bytes);
      if (complete) break;
    }
    // A pair split between two reads of the source, or a source that shows nothing.
    uint8_t value = 0, count = 0;
    if (bytesLeft < 2) {
      result = Result::NoFrame;
      break;
    }
    if (input.nextByte(value) != 0 || input.nextByte(count) != 0) {
      result = Result::SourceFailed;
      break;
    }
    bytesLeft -= 2;
    if (applyPair(value, count)) break;
  }
  source = input;
  call.bytesTaken = kMaxBytesPerCall - bytesLeft;
  return outOfPatience ? Result::NoFrame : result;
}

// Every cell of the history drawn again in one mode, line by line in stream order, with the
// Screen4 colour running from black as in a frame's decoding.
template <bool Wide, bool Screen4>
void drawCells(const uint8_t* cells, uint32_t* pixels) {
  uint32_t screen4Colour = 0x000000;
  for (int line = 0; line < kLines; ++line) {
    uint32_t* out = pictureRow(pixels, line, Wide);
    for (const uint8_t* end = cells + kCellsPerLine; cells != end; ++cells) {
      storeCell<Wide>(out, cellPair<Screen4>(*cells, screen4Colour));
      out += kCellColumns<Wide>;
    }
  }
}

}  // namespace FrameDecoding

// Decodes the capture stream one frame per call, keeping the cell history between calls.
class FrameDecoder {
 public:
  using Result = FrameDecoding::Result;
  static constexpr int kCellHistoryBytes = FrameDecoding::kCellHistoryBytes;

  // The cell history, zeroed: delta frames before the first key frame add to zero. Once, before
  // the first call; false when memory is short.
  bool allocate() {
    cellHistory_.reset(new (std::nothrow) uint8_t[kCellHistoryBytes]());
    return cellHistory_ != nullptr;
  }

  // Decodes one frame from `source` into `picture`. `source` is any type with
  // `int nextByte(uint8_t& byte)` that returns 0 with the next byte or 1 on failure (and may
  // block). FrameComplete: a whole frame was decoded. SourceFailed: the source failed; what was
  // decoded stays. NoFrame: no frame was completed within the call's bounds (1 MiB of stream, or
  // a second of marker search or restarts); the next call goes on from there.
  template <class Source>
  Result decodeFrame(Source& source, FrameBuffer& picture, PictureMode mode, Clock& clock);

  // Draws the whole picture again from the cell history in `mode`. Frames only draw the cells
  // they change, so after the mode changed the picture would otherwise mix the two modes until
  // the next key frame. In Screen4 the colour before the first table byte is black, as in a
  // frame that does not restart part-way.
  void redraw(FrameBuffer& picture, PictureMode mode) const;

  // Stream bytes the last call took: skipped, marker and pair bytes alike.
  uint32_t lastCallBytes() const { return lastCallBytes_; }
  // Byte n is the latest value of cell n (0 ... 55,805); the bytes above are never touched.
  uint8_t* cellHistory() { return cellHistory_.get(); }
  // For a new stream decoded from its start: cleared cells, as after allocate(), and a search
  // that starts afresh.
  void reset() {
    std::memset(cellHistory_.get(), 0, kCellHistoryBytes);
    restartSearch();
  }
  // For a new stream: the next search starts afresh, with nothing handed on from the old one.
  // A reader that goes back to where an earlier call of the same stream began passes the byte
  // that call's search started from.
  void restartSearch(uint8_t previous = 0) { searchCarry_ = previous; }

 private:
  std::unique_ptr<uint8_t[]> cellHistory_;
  uint32_t lastCallBytes_ = 0;
  // The last byte of a marker search that gave up within its bounds, which the next call's
  // search starts from: a search may give up between 0x01 and 0x81, and starting the next one
  // from 0 would read that key-frame marker as a delta one. No stopping point can be chosen
  // instead: a dead input that sends only 0x01 bytes offers none.
  uint8_t searchCarry_ = 0;
};

template <class Source>
FrameDecoder::Result FrameDecoder::decodeFrame(Source& source, FrameBuffer& picture, PictureMode mode,
                                               Clock& clock) {
  using namespace FrameDecoding;
  CallContext call{cellHistory_.get(), picture.pixels.get(), clock, clock.milliseconds(), 0};
  uint8_t previous = searchCarry_, byte = 0;
  searchCarry_ = 0;
  Result result = Result::NoFrame;
  for (;;) {  // marker search, byte by byte
    // Giving up hands `previous` on, so that a marker split between two calls is still read.
    if (call.bytesTaken == kMaxBytesPerCall ||
        (call.bytesTaken % kPatienceCheckBytes == kPatienceCheckBytes - 1 &&
         clock.milliseconds() - call.callStart > kPatienceMs)) {
      searchCarry_ = previous;
      break;
    }
    if (source.nextByte(byte) != 0) {
      result = Result::SourceFailed;
      break;
    }
    ++call.bytesTaken;
    if (isFrameMarker(previous, byte)) {
      if (mode.wide) {
        result = mode.screen4 ? decodePairs<true, true>(source, previous, call)
                              : decodePairs<true, false>(source, previous, call);
      } else {
        result = mode.screen4 ? decodePairs<false, true>(source, previous, call)
                              : decodePairs<false, false>(source, previous, call);
      }
      break;
    }
    previous = byte;
  }
  lastCallBytes_ = call.bytesTaken;
  return result;
}

inline void FrameDecoder::redraw(FrameBuffer& picture, PictureMode mode) const {
  using namespace FrameDecoding;
  const uint8_t* cells = cellHistory_.get();
  uint32_t* pixels = picture.pixels.get();
  if (mode.wide) {
    mode.screen4 ? drawCells<true, true>(cells, pixels) : drawCells<true, false>(cells, pixels);
  } else {
    mode.screen4 ? drawCells<false, true>(cells, pixels) : drawCells<false, false>(cells, pixels);
  }
}

// A byte source over bytes in memory, for tools, tests and benchmarks.
struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t position = 0;
  int nextByte(uint8_t& byte) {
    if (position == size) return 1;
    byte = data[position++];
    return 0;
  }
  size_t unread(const uint8_t*& bytes) const {
    bytes = data + position;
    return size - position;
  }
  void consume(size_t count) { position += count; }
};
