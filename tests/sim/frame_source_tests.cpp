// The frames both simulated devices send from a stream file: where they are cut decides the
// pace of the simulated device and the byte rate of the emulated chip, which tests further on
// take on trust.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame_source.h"
#include "stream_builder.h"

namespace {

std::string writeFile(const char* name, const std::vector<uint8_t>& bytes) {
  const std::string path = testing::TempDir() + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return path;
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
  return path;
}

std::vector<size_t> frameSizes(FrameSource& source, int most) {
  std::vector<size_t> sizes;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  while (static_cast<int>(sizes.size()) < most && source.nextFrame(bytes, size)) sizes.push_back(size);
  return sizes;
}

// Junk goes with the frame it leads to, a delta frame ends at its last cell, and a frame cut off
// by the end of the file is a frame of its own; played once the file then ends, looped it comes
// round to its first byte.
TEST(FrameSource, FileFramesEndWhereTheDecoderEndsThem) {
  std::vector<uint8_t> stream = {0x42, 0x42, 0x42};
  const std::vector<uint8_t> key = frameStart(FrameFormat::kKeyFrame);
  stream.insert(stream.end(), key.begin(), key.end());
  addRuns(stream, 1, FrameFormat::kCellsPerFrame);
  const size_t firstEnd = stream.size();
  const std::vector<uint8_t> delta = frameStart(FrameFormat::kDeltaFrame);
  stream.insert(stream.end(), delta.begin(), delta.end());
  addRuns(stream, 0, FrameFormat::kCellsPerFrame - 5);
  addPair(stream, 9, 5);
  const size_t secondEnd = stream.size();
  stream.insert(stream.end(), delta.begin(), delta.end());
  addPair(stream, 1, 7);
  const std::string path = writeFile("frames.kvs", stream);

  FrameSource once;
  ASSERT_TRUE(once.useFile(path.c_str(), false));
  const std::vector<size_t> expected = {firstEnd, secondEnd - firstEnd, stream.size() - secondEnd};
  EXPECT_EQ(frameSizes(once, 5), expected);
  uint64_t bytes = 0;
  uint64_t frames = 0;
  ASSERT_TRUE(once.measure(bytes, frames));
  EXPECT_EQ(bytes, stream.size());
  EXPECT_EQ(frames, 3u);

  FrameSource looped;
  ASSERT_TRUE(looped.useFile(path.c_str(), true));
  EXPECT_EQ(frameSizes(looped, 4), (std::vector<size_t>{expected[0], expected[1], expected[2], expected[0]}));

  FrameSource missing;
  EXPECT_FALSE(missing.useFile((path + ".absent").c_str(), false));
  FrameSource empty;
  ASSERT_TRUE(empty.useFile(writeFile("empty.kvs", {}).c_str(), true));
  EXPECT_TRUE(frameSizes(empty, 1).empty());
}

}  // namespace
