// Stream files reviewed frame by frame: the key-frame start points the index keeps, every jump
// and step giving exactly the picture that decoding the file from its start gives, and files
// cut short while they play.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "frame_checksum.h"
#include "frame_index.h"
#include "manual_clock.h"
#include "scratch_directory.h"
#include "stream_builder.h"
#include "stream_file_player.h"
#include "test_pattern.h"

namespace {

constexpr uint32_t kCallBound = FrameDecoding::kMaxBytesPerCall;

std::vector<uint8_t> patternFrames(uint32_t first, uint32_t count) {
  TestPattern pattern;
  pattern.frameNumber = first;
  std::vector<uint8_t> stream, frame(kMaxEncodedFrameBytes);
  for (uint32_t i = 0; i < count; ++i)
    stream.insert(stream.end(), frame.begin(), frame.begin() + long(nextPatternFrame(pattern, frame.data())));
  return stream;
}

void writeStream(const std::string& path, const std::vector<uint8_t>& stream) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()), long(stream.size()));
}

// Every frame the decoder completes reading the stream from its start, as the stream tool
// does: its checksum and the end of its last byte.
struct Reference {
  std::vector<uint64_t> checksums;
  std::vector<size_t> ends;
  // The first frame that ends after `offset`.
  int64_t frameAfter(size_t offset) const {
    return int64_t(std::upper_bound(ends.begin(), ends.end(), offset) - ends.begin());
  }
};

Reference decodeFromStart(const std::vector<uint8_t>& stream, PictureMode mode) {
  FrameDecoder decoder;
  FrameBuffer picture;
  ManualClock clock;
  EXPECT_TRUE(decoder.allocate() && picture.allocate());
  MemorySource source{stream.data(), stream.size()};
  Reference reference;
  for (FrameDecoder::Result result; (result = decoder.decodeFrame(source, picture, mode, clock)) !=
                                    FrameDecoder::Result::SourceFailed;) {
    if (result != FrameDecoder::Result::FrameComplete) continue;
    reference.checksums.push_back(frameChecksum(decoder.cellHistory(), picture));
    reference.ends.push_back(source.position);
  }
  return reference;
}

// A decoder and picture as the viewer owns them, and a player over them.
struct PlayerRig {
  FrameDecoder decoder;
  FrameBuffer picture;
  StreamFilePlayer player{decoder, picture};
  PlayerRig() { EXPECT_TRUE(decoder.allocate() && picture.allocate()); }
  uint64_t checksum() { return frameChecksum(decoder.cellHistory(), picture); }
};

TEST(FrameIndex, KeepsTheStartsOfKeyFramesCallsSpacedOutAndWalksAgainAfterACut) {
  std::vector<uint8_t> stream = {0x42, 0x00};  // bytes before the first marker belong to frame 0
  std::vector<size_t> ends;
  auto addFrame = [&](uint8_t kind) {
    const std::vector<uint8_t> start = frameStart(kind);
    stream.insert(stream.end(), start.begin(), start.end());
    addFullFrame(stream, uint8_t(ends.size()));
    ends.push_back(stream.size());
  };
  for (int frame = 0; frame < 100; ++frame) {
    const bool key = frame == 3 || frame == 41 || frame == 50 || frame == 80;
    addFrame(key ? FrameFormat::kKeyFrame : FrameFormat::kDeltaFrame);
  }
  stream.resize(stream.size() - 10);  // the last frame cut off
  FrameIndex index;
  index.walk(stream.data(), 1000);
  index.walk(stream.data() + 1000, stream.size() - 1000);
  index.finish();
  EXPECT_EQ(index.frames(), 99);
  EXPECT_EQ(index.lastFrameEnd(), ends[98]);
  // Frame 50 is too close to 41 to be kept.
  ASSERT_EQ(index.startPoints(), 3u);
  EXPECT_EQ(index.startFor(2), nullptr);
  const int64_t expected[][2] = {{3, 3}, {40, 3}, {41, 41}, {79, 41}, {80, 80}, {1000, 80}};
  for (const auto& [frame, start] : expected) {
    SCOPED_TRACE(frame);
    ASSERT_NE(index.startFor(frame), nullptr);
    EXPECT_EQ(index.startFor(frame)->frame, start);
    EXPECT_EQ(index.startFor(frame)->offset, ends[size_t(start) - 1]);
    EXPECT_EQ(index.startFor(frame)->previousFrameEnd, ends[size_t(start) - 1]);
  }

  // Cut inside frame 80: walked again from its start, it ends with frame 79.
  index.cutAt(ends[80] - 1);
  EXPECT_EQ(index.walked(), ends[79]);
  EXPECT_FALSE(index.complete());
  index.walk(stream.data() + index.walked(), ends[80] - 1 - index.walked());
  index.finish();
  EXPECT_EQ(index.frames(), 80);
  EXPECT_EQ(index.lastFrameEnd(), ends[79]);
  EXPECT_EQ(index.startFor(1000)->frame, 41);
  index.cutAt(5);
  EXPECT_EQ(index.walked(), 0u);
  EXPECT_EQ(index.frames(), 0);
  EXPECT_EQ(index.startPoints(), 0u);
}

// Delta frames before the first key frame; a dead input's 0x01 bytes that make a call give up
// right between a key frame's two marker bytes; junk that leaves a key frame too little of its
// call, so that it is lost and the next calls search inside it. In both colour modes, at both
// scales.
TEST(StreamFilePlayer, EveryJumpAndStepShowsWhatDecodingFromTheStartShows) {
  std::vector<uint8_t> stream = patternFrames(40, 70);
  const size_t deadInput = stream.size();
  stream.insert(stream.end(), kCallBound - 1, FrameFormat::kKeyFrame);
  const std::vector<uint8_t> afterDeadInput = patternFrames(180, 30);
  stream.insert(stream.end(), afterDeadInput.begin(), afterDeadInput.end());
  const size_t junk = stream.size();
  stream.insert(stream.end(), kCallBound - 3000, 0x37);
  const std::vector<uint8_t> afterJunk = patternFrames(240, 70);
  stream.insert(stream.end(), afterJunk.begin(), afterJunk.end());
  ScratchDirectory scratch;
  const std::string path = scratch / "review.kvs";
  writeStream(path, stream);

  for (const PictureMode mode : {PictureMode{}, PictureMode{false, true}, PictureMode{true, false},
                                 PictureMode{true, true}}) {
    SCOPED_TRACE(std::string(mode.wide ? "Wide " : "") + (mode.screen4 ? "Screen4" : "palette"));
    const Reference reference = decodeFromStart(stream, mode);
    const int64_t total = int64_t(reference.checksums.size());
    const int64_t keyAfterDeadInput = reference.frameAfter(deadInput + kCallBound);
    const int64_t lostKey = reference.frameAfter(junk);
    ASSERT_GT(total, lostKey + 30);
    PlayerRig rig;
    StreamFilePlayer& player = rig.player;
    ASSERT_EQ(player.load(path.c_str()), StreamFilePlayer::LoadResult::Loaded);
    EXPECT_FALSE(player.totalKnown());
    auto expectFrame = [&](StreamFilePlayer::Result result, int64_t frame) {
      ASSERT_EQ(result, StreamFilePlayer::Result::Shown);
      ASSERT_EQ(player.shownFrame(), frame);
      EXPECT_EQ(rig.checksum(), reference.checksums[size_t(frame)]) << "frame " << frame;
    };
    for (int64_t frame = 0; frame < 3; ++frame) expectFrame(player.next(mode), frame);
    EXPECT_LT(player.framesFound(), total);  // found as the file is read
    expectFrame(player.goTo(keyAfterDeadInput, mode), keyAfterDeadInput);
    expectFrame(player.previous(mode), keyAfterDeadInput - 1);
    expectFrame(player.goTo(keyAfterDeadInput + 5, mode), keyAfterDeadInput + 5);
    expectFrame(player.goTo(lostKey + 3, mode), lostKey + 3);
    expectFrame(player.previous(mode), lostKey + 2);
    expectFrame(player.goTo(30, mode), 30);
    expectFrame(player.goTo(21, mode), 21);
    expectFrame(player.goTo(20, mode), 20);
    expectFrame(player.goToEnd(mode), total - 1);
    EXPECT_TRUE(player.totalKnown());
    EXPECT_EQ(player.framesFound(), total);
    expectFrame(player.next(mode), 0);  // playing on loops
    expectFrame(player.previous(mode), 0);
    expectFrame(player.goTo(-7, mode), 0);
    expectFrame(player.goTo(total - 2, mode), total - 2);
    expectFrame(player.goTo(total + 300, mode), total - 1);
    expectFrame(player.goTo(int64_t(1) << 62, mode), total - 1);
    EXPECT_EQ(player.startPoints(), 3u);  // frames 20, 70 and the last key frame
  }
}

// A file cut short while it plays, to 900,000, 100,000 and 0 bytes: the player plays on to its
// new end and loops there, and then reports that no whole frame is left.
TEST(StreamFilePlayer, FileCutShortWhilePlayingPlaysOnToItsNewEndThenReportsNoFrame) {
  const std::vector<uint8_t> stream = patternFrames(0, 600);
  ASSERT_GT(stream.size(), 1000000u);
  ScratchDirectory scratch;
  const std::string path = scratch / "cut.kvs";
  writeStream(path, stream);
  const Reference reference = decodeFromStart(stream, PictureMode{});
  PlayerRig rig;
  StreamFilePlayer& player = rig.player;
  ASSERT_EQ(player.load(path.c_str()), StreamFilePlayer::LoadResult::Loaded);
  // Each cut falls before where the player is.
  for (const size_t size : {900000u, 100000u}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(player.goToEnd(PictureMode{}), StreamFilePlayer::Result::Shown);
    ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0);
    const int64_t frames = reference.frameAfter(size);
    ASSERT_EQ(player.next(PictureMode{}), StreamFilePlayer::Result::Shown);
    EXPECT_EQ(player.shownFrame(), 0);
    EXPECT_EQ(rig.checksum(), reference.checksums[0]);
    ASSERT_EQ(player.goToEnd(PictureMode{}), StreamFilePlayer::Result::Shown);
    EXPECT_EQ(player.shownFrame(), frames - 1);
    EXPECT_EQ(rig.checksum(), reference.checksums[size_t(frames) - 1]);
    EXPECT_EQ(player.framesFound(), frames);
  }
  ASSERT_EQ(truncate(path.c_str(), 0), 0);
  EXPECT_EQ(player.next(PictureMode{}), StreamFilePlayer::Result::NoWholeFrame);
  EXPECT_EQ(player.goTo(0, PictureMode{}), StreamFilePlayer::Result::NoWholeFrame);
}

}  // namespace
