#include "frame_range.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "stream_file_player.h"

bool parseFrameNumber(const char* text, int64_t& number) {
  if (!std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > FrameRange::kMaxFrameNumber) return false;
  number = value;
  return true;
}

namespace {

std::string loadFailure(const char* path, const StreamFilePlayer& player,
                        StreamFilePlayer::LoadResult result) {
  switch (result) {
    case StreamFilePlayer::LoadResult::NotFound:
    case StreamFilePlayer::LoadResult::Unreadable:
      return std::string("cannot open stream '") + path + "': " + std::strerror(player.loadError());
    case StreamFilePlayer::LoadResult::NotRegular:
      return std::string("cannot read stream '") + path + "': not a regular file";
    case StreamFilePlayer::LoadResult::NoWholeFrame:
    case StreamFilePlayer::LoadResult::Loaded:
      break;
  }
  return std::string("'") + path + "' holds no complete frame";
}

// Loads the stream into `player` and checks that it holds the range; false with the reason.
bool loadRange(StreamFilePlayer& player, const char* path, const FrameRange& range, std::string& error) {
  if (range.last >= 0 && range.first > range.last) {
    error = "--from " + std::to_string(range.first) + " comes after --to " + std::to_string(range.last);
    return false;
  }
  const StreamFilePlayer::LoadResult loaded = player.load(path);
  if (loaded != StreamFilePlayer::LoadResult::Loaded) {
    error = loadFailure(path, player, loaded);
    return false;
  }
  const int64_t last = range.last >= 0 ? range.last : range.first;
  if (player.hasFrame(last)) return true;
  error = player.readError() != 0
              ? std::string("cannot read stream '") + path + "': " + std::strerror(player.readError())
              : std::string("'") + path + "' has " + std::to_string(player.framesFound()) +
                    " frames, no frame " + std::to_string(last);
  return false;
}

}  // namespace

int checkRange(const char* path, const FrameRange& range, std::string& error) {
  FrameDecoder decoder;
  FrameBuffer picture;
  StreamFilePlayer player(decoder, picture);
  return loadRange(player, path, range, error) ? 0 : -1;
}

int forEachPictureInRange(const char* path, PictureMode mode, const FrameRange& range,
                          const std::function<int(int64_t, const FrameBuffer&)>& usePicture, int64_t& frames,
                          std::string& error) {
  frames = 0;
  FrameDecoder decoder;
  FrameBuffer picture;
  if (!decoder.allocate() || !picture.allocate()) {
    error = "out of memory";
    return -1;
  }
  StreamFilePlayer player(decoder, picture);
  if (!loadRange(player, path, range, error)) return -1;
  for (int64_t frame = range.first; range.last < 0 ? player.hasFrame(frame) : frame <= range.last; ++frame) {
    const StreamFilePlayer::Result result =
        frame == range.first ? player.goTo(frame, mode) : player.next(mode);
    if (result != StreamFilePlayer::Result::Shown || player.shownFrame() != frame) {
      error = std::string("cannot read stream '") + path + "': it changed while it was read";
      return -1;
    }
    if (const int status = usePicture(frame, picture)) return status;
    ++frames;
  }
  if (!player.totalKnown() && range.last < 0) {
    error = std::string("cannot read stream '") + path + "': " + std::strerror(player.readError());
    return -1;
  }
  return 0;
}
