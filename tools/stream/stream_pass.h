// One pass of the program's own decoder over a mapped stream, call by call, as a viewer
// decodes: the decoder and its picture are allocated once, and the clock stands still, since a
// stream file has no pace; only the byte bound ends a call without a frame.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "command_line.h"
#include "frame_decoder.h"
#include "frame_range.h"
#include "mapped_stream.h"
#include "pictures.h"

// What one decoder call made of the stream's bytes [start, end).
struct DecoderCall {
  FrameDecoder::Result result;
  size_t start, end;
};

// Hands each call to `useCall(call, picture)`, the last one (SourceFailed: the end, or a frame
// cut off by it) included; a status from it ends the pass.
template <typename UseCall>
int forEachDecoderCall(MappedStream& stream, PictureMode mode, UseCall useCall) {
  struct StillClock final : Clock {
    uint32_t milliseconds() override { return 0; }
  } clock;
  FrameDecoder decoder;
  FrameBuffer picture;
  if (!decoder.allocate() || !picture.allocate()) return fail("out of memory");
  MemorySource source{stream.data(), stream.size()};
  for (;;) {
    const size_t start = source.position;
    stream.release(start);
    const FrameDecoder::Result result = decoder.decodeFrame(source, picture, mode, clock);
    if (int status = useCall(DecoderCall{result, start, source.position}, picture)) return status;
    if (result == FrameDecoder::Result::SourceFailed) return 0;
  }
}

struct PictureCount {
  int frames = 0;
  int callsWithoutFrame = 0;
};

// Hands each complete picture as the window shows it to `usePicture(frame, rgb, bytesRead)`
// (8-bit RGB, top line first); a status from it ends the pass.
template <typename UsePicture>
int forEachPicture(MappedStream& stream, PictureMode mode, PictureCount& count, UsePicture usePicture) {
  const PictureSize size = pictureSize(true);
  std::vector<uint8_t> rgb(static_cast<size_t>(size.width) * size.height * 3);
  return forEachDecoderCall(stream, mode, [&](const DecoderCall& call, const FrameBuffer& picture) {
    if (call.result == FrameDecoder::Result::NoFrame) ++count.callsWithoutFrame;
    if (call.result != FrameDecoder::Result::FrameComplete) return 0;
    copyPicture(picture, mode.wide, rgb.data());
    if (int status = usePicture(count.frames, rgb.data(), call.end)) return status;
    ++count.frames;
    return 0;
  });
}

// The same for the frames of `range` alone, found and decoded as the viewer's player does, each
// numbered as in the whole stream; `bytesRead` is then the share of the range done, in bytes of
// a stream of `bytes`.
template <typename UsePicture>
int forEachPictureOfRange(const char* path, PictureMode mode, const FrameRange& range, size_t bytes,
                          PictureCount& count, UsePicture usePicture) {
  const PictureSize size = pictureSize(true);
  std::vector<uint8_t> rgb(static_cast<size_t>(size.width) * size.height * 3);
  const double span = range.last >= 0 ? double(range.last - range.first + 1) : 0;
  std::string error;
  int64_t frames = 0;
  const int status = forEachPictureInRange(
      path, mode, range,
      [&](int64_t frame, const FrameBuffer& picture) {
        copyPicture(picture, mode.wide, rgb.data());
        const double done = span > 0 ? double(frame - range.first) / span : 0;
        return usePicture(static_cast<int>(frame), rgb.data(), static_cast<size_t>(done * double(bytes)));
      },
      frames, error);
  count.frames = static_cast<int>(frames);
  return status < 0 ? fail("%s", error.c_str()) : status;
}
