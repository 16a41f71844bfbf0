// The kestravu-stream program itself, run as a user would: bad input ends it with status 2,
// one line on stderr and nothing left behind; pictures survive encode and decode; decode's
// PNGs agree with the fixture checksums; info counts what a stream holds.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "tool_run.h"

namespace {

const std::string kFixtures = KESTRAVU_FIXTURES;

Picture blankPicture(int width = kPictureWidth, int height = kPictureHeight) {
  return Picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, 0)};
}

void setPixel(Picture& picture, int x, int y, uint32_t colour) {
  uint8_t* at = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
  at[0] = uint8_t(colour >> 16), at[1] = uint8_t(colour >> 8), at[2] = uint8_t(colour);
}

uint32_t pixelOf(const Picture& picture, int x, int y) {
  const uint8_t* at = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
  return pixelValue(at[0], at[1], at[2]);
}

// What the encoder must make of a pixel: the nearest palette colour, the lower index on a tie.
uint32_t quantised(uint32_t colour) {
  int best = 0;
  long bestDistance = 1L << 40;
  for (int index = 0; index < 16; ++index) {
    long red = long(colour >> 16) - kPalette[index].red,
         green = long(colour >> 8 & 255) - kPalette[index].green;
    long blue = long(colour & 255) - kPalette[index].blue, distance = red * red + green * green + blue * blue;
    if (distance < bestDistance) best = index, bestDistance = distance;
  }
  return paletteColour(best);
}

TEST(StreamToolCommandLine, BadInputExitsWithStatusTwoAndLeavesNothingBehind) {
  ScratchDirectory scratch;
  ASSERT_TRUE(writePng(scratch / "good.png", blankPicture()));
  ASSERT_TRUE(writePng(scratch / "small.png", blankPicture(100, 50)));
  std::ofstream(scratch / "text.png") << "not a picture\n";
  std::filesystem::create_hard_link(scratch / "good.png", scratch / "hard.png");
  std::filesystem::create_symlink("good.png", scratch / "soft.png");
  std::filesystem::copy_file(kFixtures + "/pattern-12.stream", scratch / "s.mkv");
  std::filesystem::copy_file(kFixtures + "/pattern-12.stream", scratch / "frame-00000.png");
  const std::set<std::string> before = entries(scratch.path);
  const std::string stream = kFixtures + "/pattern-12.stream", out = scratch / "out",
                    made = scratch / "made.stream";
  const std::string good = scratch / "good.png";
  const std::string cases[] = {
      "",
      "frobnicate",
      "decode " + stream,
      "decode " + (scratch / "missing.stream") + " " + out,
      "decode " + scratch.path + " " + out,  // a directory cannot be read as a stream
      "decode " + stream + " " + out + " --bogus",
      "decode " + stream + " " + out + " '--wide --screen4'",  // options are whole arguments
      "info",
      "info " + (scratch / "missing.stream"),
      "encode " + good,
      "encode -o " + made,
      "encode -o " + made + " " + good + " " + (scratch / "small.png"),
      "encode -o " + made + " " + good + " " + (scratch / "text.png"),
      "encode -o " + made + " " + (scratch / "missing.png"),
      "encode -o " + made + " --key-every 0 " + good,
      "encode -o " + (scratch / "no/such/dir.stream") + " " + good,
      "pattern -o",
      "pattern -o " + made + " --frames many",
      "pattern -o " + made + " --wide",
      "pattern -o " + (scratch / "no/such/dir.stream"),
      "pattern -o " + scratch.path,
      // An output that is one of the inputs, by any name.
      "encode -o " + good + " " + good,
      "encode -o " + (scratch / "hard.png") + " " + good,
      "encode -o " + (scratch / "soft.png") + " " + good,
      "video " + (scratch / "s.mkv") + " " + (scratch / "s.mkv"),
      "decode " + (scratch / "frame-00000.png") + " " + scratch.path,
  };
  for (const std::string& arguments : cases) expectRefused(arguments, scratch.path, before);
  Picture picture;
  EXPECT_TRUE(readPng(scratch / "good.png", picture));
  EXPECT_EQ(readText(scratch / "s.mkv"), readText(kFixtures + "/pattern-12.stream"));
  EXPECT_EQ(readText(scratch / "frame-00000.png"), readText(kFixtures + "/pattern-12.stream"));
}

// A small file system of its own that fills up; needs root.
struct SmallFileSystem {
  std::string path;
  bool mounted = false;
  SmallFileSystem(const std::string& at, const char* size) : path(at) {
    std::filesystem::create_directory(path);
    mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) umount2(path.c_str(), MNT_DETACH);
  }
};

// A decode that fails part-way keeps the pictures it finished, each whole, says how far it got
// on its one line, and leaves pictures of earlier runs and no temporary file.
TEST(StreamToolCommandLine, DecodeThatFailsPartWayKeepsWholePicturesAndSaysHowFar) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch / "blocked/frame-00001.png");  // cannot be replaced by a file
  ToolRun run = runTool("decode " + kFixtures + "/pattern-12.stream " + (scratch / "blocked"));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("frame-00000.png to frame-00000.png of this run are written"), std::string::npos)
      << run.err;
  EXPECT_EQ(entries(scratch / "blocked"), (std::set<std::string>{"frame-00000.png", "frame-00001.png"}));

  ASSERT_EQ(runTool("pattern -o " + (scratch / "long.stream") + " --frames 300").status, 0);
  SmallFileSystem full(scratch / "full", "64k");
  if (!full.mounted) GTEST_SKIP() << "cannot mount a small tmpfs (needs root): " << std::strerror(errno);
  std::ofstream(full.path + "/frame-00200.png") << "an earlier run's\n";
  run = runTool("decode " + (scratch / "long.stream") + " " + full.path);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("No space left on device; frame-00000.png to frame-"), std::string::npos) << run.err;
  EXPECT_EQ(readText(full.path + "/frame-00200.png"), "an earlier run's\n");
  std::set<std::string> left = entries(full.path);
  left.erase("frame-00200.png");
  ASSERT_GT(left.size(), 1u);
  const std::string lastName = frameName(left.size() - 1).substr(1);
  EXPECT_NE(run.err.find(lastName + " of this run"), std::string::npos) << run.err;
  for (size_t frame = 0; frame < left.size(); ++frame) {
    Picture picture;
    EXPECT_TRUE(readPng(full.path + frameName(frame), picture)) << frame;
  }
}

TEST(StreamToolCommandLine, PicturesSurviveEncodeAndDecodeAtBothScales) {
  ScratchDirectory scratch;
  std::mt19937 random(99);
  std::vector<Picture> pictures(5, blankPicture());
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      setPixel(pictures[0], x, y, random() & 0xFFFFFF);                        // any colour at all
      setPixel(pictures[1], x, y, paletteColour((x / 30 + y / 40) % 16));      // palette blocks
      setPixel(pictures[2], x, y, paletteColour((x / 30 + y / 40 + 3) % 16));  // all of them changed
      setPixel(pictures[3], x, y, x < 100 && y < 20 ? 0xFFD700u : random() & 0xFFFFFF);  // a tie
    }
  }
  pictures[4] = pictures[2];
  for (int y = 100; y < 140; ++y)
    for (int x = 201; x < 260; ++x) setPixel(pictures[4], x, y, 0x3050F0);  // a box that starts mid-cell
  std::string names;
  for (size_t i = 0; i < pictures.size(); ++i) {
    ASSERT_TRUE(writePng(scratch / ("in" + std::to_string(i) + ".png"), pictures[i]));
    names += " " + (scratch / ("in" + std::to_string(i) + ".png"));
  }
  ToolRun encoded = runTool("encode -o " + (scratch / "s.stream") + " --key-every 2" + names);
  ASSERT_EQ(encoded.status, 0) << encoded.err;
  EXPECT_NE(runTool("info " + (scratch / "s.stream")).out.find("frames: 5 (key 3, delta 2)\n"),
            std::string::npos);
  ASSERT_EQ(runTool("decode " + (scratch / "s.stream") + " " + (scratch / "normal")).status, 0);
  ASSERT_EQ(runTool("decode " + (scratch / "s.stream") + " " + (scratch / "wide") + " --wide").status, 0);
  for (size_t i = 0; i < pictures.size(); ++i) {
    Picture normal, wide;
    const std::string name = frameName(i);
    ASSERT_TRUE(readPng(scratch / "normal" + name, normal));
    ASSERT_TRUE(readPng(scratch / "wide" + name, wide));
    ASSERT_EQ(normal.width * 1000 + normal.height, 426262);
    ASSERT_EQ(wide.width * 1000 + wide.height, 852524);
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int x = 0; x < kPictureWidth; ++x) {
        uint32_t expected = quantised(pixelOf(pictures[i], x, y));
        ASSERT_EQ(pixelOf(normal, x, y), expected) << "picture " << i << " at " << x << "," << y;
        for (int corner = 0; corner < 4; ++corner)
          ASSERT_EQ(pixelOf(wide, 2 * x + corner % 2, 2 * y + corner / 2), expected) << "Wide picture " << i;
      }
    }
  }
  Picture tie;
  ASSERT_TRUE(readPng(scratch / "normal/frame-00003.png", tie));
  EXPECT_EQ(pixelOf(tie, 0, 0), paletteColour(1));  // (255, 215, 0): as near to index 1 as to 11
}

TEST(StreamToolCommandLine, BlackIsPaletteIndexZero) {
  ScratchDirectory scratch;
  ASSERT_TRUE(writePng(scratch / "black.png", blankPicture()));
  ASSERT_EQ(runTool("encode -o " + (scratch / "black.stream") + " " + (scratch / "black.png")).status, 0);
  std::string bytes = readText(scratch / "black.stream");
  ASSERT_EQ(bytes.size(), 438u);
  for (size_t at = 2; at < bytes.size(); at += 2) ASSERT_EQ(bytes[at], '\0') << "value byte at " << at;
}

TEST(StreamToolCommandLine, DecodedPicturesMatchTheFixtureChecksums) {
  ScratchDirectory scratch;
  ASSERT_EQ(runTool("decode " + kFixtures + "/pattern-12.stream " + (scratch / "normal")).status, 0);
  ASSERT_EQ(
      runTool("decode " + kFixtures + "/pattern-12.stream " + (scratch / "w4") + " --screen4 --wide").status,
      0);
  std::istringstream lines(readText(kFixtures + "/pattern-12.checksums"));
  std::string line;
  std::getline(lines, line);  // the heading
  int frame = 0;
  for (; std::getline(lines, line); ++frame) {
    unsigned number, cells, normal, wide, screen4, wideScreen4;
    ASSERT_EQ(std::sscanf(line.c_str(), "%u %u %u %u %u %u", &number, &cells, &normal, &wide, &screen4,
                          &wideScreen4),
              6);
    const std::string name = frameName(frame);
    Picture picture;
    ASSERT_TRUE(readPng(scratch / "normal" + name, picture));
    EXPECT_EQ(posixCksum(picture.rgb.data(), picture.rgb.size()), normal) << name;
    ASSERT_TRUE(readPng(scratch / "w4" + name, picture));
    EXPECT_EQ(posixCksum(picture.rgb.data(), picture.rgb.size()), wideScreen4) << name;
  }
  EXPECT_EQ(frame, 12);
  EXPECT_EQ(entries(scratch / "normal").size(), 12u);
}

TEST(StreamToolCommandLine, InfoAndDecodeCountWhatTheHandmadeStreamHolds) {
  ScratchDirectory scratch;
  const std::string stream = kFixtures + "/handmade.stream";
  ToolRun info = runTool("info " + stream);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out.substr(info.out.find('\n') + 1),
            "frames: 4 (key 2, delta 2)\n"
            "restarts: 2\n"
            "skipped bytes: 6\n"
            "bytes per frame: min 445, mean 450.2, max 462\n"
            "bytes after the last frame: 104\n");
  ToolRun decoded = runTool("decode " + stream + " " + scratch.path);
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, "4 frames written to " + scratch.path + " from 1905 bytes\n");
  EXPECT_EQ(entries(scratch.path).size(), 4u);  // the fifth frame is cut off by the end
}

// More than 1 MiB without a marker makes one decoder call give up; the next call goes on.
TEST(StreamToolCommandLine, DecodingGoesOnAfterAMebibyteWithoutAFrame) {
  ScratchDirectory scratch;
  std::vector<uint8_t> bytes(1048576 + 1000, 0x55), cells(FrameFormat::kCellsPerFrame, 0x9C);
  std::vector<uint8_t> frame = encode(cells, nullptr);
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  std::ofstream(scratch / "junk.stream", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  ToolRun decoded = runTool("decode " + (scratch / "junk.stream") + " " + (scratch / "out"));
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, "1 frames written to " + (scratch / "out") +
                             " from 1050014 bytes (gave up 1 times after 1 MiB without a frame)\n");
  Picture picture;
  ASSERT_TRUE(readPng(scratch / "out/frame-00000.png", picture));
  EXPECT_EQ(pixelOf(picture, 425, 261), paletteColour(9));  // 0x9C: blue left, red right
  ToolRun info = runTool("info " + (scratch / "junk.stream"));
  EXPECT_NE(info.out.find("skipped bytes: 1000\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("bytes without a frame (given up): 1048576\n"), std::string::npos) << info.out;
}

// An output is written through its symlink, never through a name of the temporary kind; it gets
// the mode of an ordinary new file.
TEST(StreamToolOutputs, SymlinksAreFollowedAndTemporaryNamesLeftAlone) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch / "target");
  std::ofstream(scratch / "victim") << "not to be written\n";
  std::filesystem::create_symlink(scratch / "victim", scratch / "out.kvs.tmp");  // planted
  std::ofstream(scratch / "mine.kvs.tmp") << "a file of the user's\n";
  std::filesystem::create_symlink("target/linked.kvs", scratch / "linked.kvs");
  std::ofstream(scratch / "target/linked.kvs") << "old\n";
  std::filesystem::create_symlink("target/new.kvs", scratch / "dangling.kvs");
  const std::set<std::string> before = entries(scratch.path);
  for (const char* name : {"out.kvs", "mine.kvs", "linked.kvs", "dangling.kvs"})
    ASSERT_EQ(runTool("pattern -o " + (scratch / name) + " --frames 5").status, 0) << name;
  const std::string expected = readText(scratch / "out.kvs");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(readText(scratch / "victim"), "not to be written\n");
  EXPECT_EQ(readText(scratch / "mine.kvs.tmp"), "a file of the user's\n");
  EXPECT_EQ(readText(scratch / "mine.kvs"), expected);
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "linked.kvs"));
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "dangling.kvs"));
  EXPECT_EQ(readText(scratch / "target/linked.kvs"), expected);
  EXPECT_EQ(readText(scratch / "target/new.kvs"), expected);
  std::set<std::string> after = before;
  after.insert({"out.kvs", "mine.kvs"});
  EXPECT_EQ(entries(scratch.path), after);
  EXPECT_EQ(entries(scratch / "target"), (std::set<std::string>{"linked.kvs", "new.kvs"}));
  const mode_t mask = umask(0);
  umask(mask);
  struct stat status;
  ASSERT_EQ(stat((scratch / "out.kvs").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

// A FIFO or a device node is written directly: it stays what it is and gets the whole stream.
TEST(StreamToolOutputs, FifosAndDevicesAreWrittenDirectly) {
  ScratchDirectory scratch;
  ASSERT_EQ(runTool("pattern -o " + (scratch / "file.kvs") + " --frames 30").status, 0);
  FifoReader fifo(scratch / "fifo");
  ToolRun run = runTool("pattern -o " + fifo.path + " --frames 30");
  EXPECT_TRUE(fifo.release() == readText(scratch / "file.kvs"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_fifo(scratch / "fifo"));
  if (mknod((scratch / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "cannot make a device node (needs root): " << std::strerror(errno);
  run = runTool("pattern -o " + (scratch / "null") + " --frames 3");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_character_file(scratch / "null"));
  EXPECT_EQ(entries(scratch.path), (std::set<std::string>{"fifo", "file.kvs", "null"}));
}

// Two runs writing one output at once each write a whole file of their own; the one left is
// one of them, whole.
TEST(StreamToolOutputs, ConcurrentRunsLeaveOneWholeOutput) {
  ScratchDirectory scratch;
  const std::string frames[] = {"1500", "1000"};
  for (const std::string& count : frames)
    ASSERT_EQ(runTool("pattern -o " + (scratch / count) + " --frames " + count).status, 0);
  pid_t runs[2];
  for (int run = 0; run < 2; ++run)
    runs[run] = startTool({"pattern", "-o", scratch / "same.kvs", "--frames", frames[run]});
  for (pid_t run : runs) {
    int status = -1;
    ASSERT_EQ(waitpid(run, &status, 0), run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::string left = readText(scratch / "same.kvs");
  EXPECT_TRUE(left == readText(scratch / "1500") || left == readText(scratch / "1000")) << left.size();
  EXPECT_EQ(entries(scratch.path), (std::set<std::string>{"1000", "1500", "same.kvs"}));
}

// Ctrl+C or a SIGTERM part-way leaves no temporary file: no stream, and of decode only whole
// pictures.
TEST(StreamToolOutputs, InterruptedRunsLeaveNoTemporaryFile) {
  ScratchDirectory scratch;
  ASSERT_EQ(runTool("pattern -o " + (scratch / "long.stream") + " --frames 3000").status, 0);
  std::filesystem::create_directory(scratch / "out");
  struct Case {
    std::vector<std::string> arguments;
    int signal;
  } cases[] = {{{"pattern", "-o", scratch / "out/p.kvs", "--frames", "10000000"}, SIGINT},
               {{"decode", scratch / "long.stream", scratch / "out"}, SIGTERM}};
  for (const Case& test : cases) {
    const pid_t child = startTool(test.arguments);
    // Until it is writing: any file for the pattern, a few pictures for decode.
    for (int wait = 0; wait < 10000; ++wait) {
      const std::set<std::string> now = entries(scratch / "out");
      if (now.size() > (test.signal == SIGINT ? 0u : 5u)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child, test.signal);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == test.signal) << test.arguments[0] << " " << status;
  }
  const std::set<std::string> left = entries(scratch / "out");
  ASSERT_GE(left.size(), 5u);
  for (size_t frame = 0; frame < left.size(); ++frame) {
    Picture picture;
    EXPECT_TRUE(readPng(scratch / "out" + frameName(frame), picture)) << frame;
  }
}

// A slice of 130 frames of the pattern (key frames 0, 60, 120), in Screen4 where a picture
// hangs on the running colour: exactly the whole decode's pictures of those frames, under their
// own numbers; the video of a slice holds that many frames. Bad ranges are refused.
TEST(StreamToolCommandLine, FromAndToGiveExactlyThoseFramesAndBadRangesAreRefused) {
  ScratchDirectory scratch;
  const std::string stream = scratch / "p.stream";
  ASSERT_EQ(runTool("pattern -o " + stream + " --frames 130").status, 0);
  ASSERT_EQ(runTool("decode " + stream + " " + (scratch / "all") + " --screen4").status, 0);
  const std::pair<std::string, std::vector<int>> slices[] = {
      {"--from 55 --to 70", {55, 70}},
      {"--from 125", {125, 129}},
      {"--to 2", {0, 2}},
      {"--from 61 --to 61", {61, 61}}};
  for (const auto& [range, frames] : slices) {
    const std::string out = scratch / ("slice" + std::to_string(frames[0]));
    ToolRun decoded = runTool("decode " + stream + " " + out + " --screen4 " + range);
    ASSERT_EQ(decoded.status, 0) << range << decoded.err;
    std::set<std::string> expected;
    for (int frame = frames[0]; frame <= frames[1]; ++frame) {
      char name[32];
      std::snprintf(name, sizeof name, "frame-%05d.png", frame);
      expected.insert(name);
      EXPECT_EQ(readText(out + "/" + name), readText(scratch / "all/" + name)) << range << " " << name;
    }
    EXPECT_EQ(entries(out), expected) << range;
  }
  ToolRun video = runTool("video " + stream + " " + (scratch / "v.mkv") + " --from 100 --to 109");
  EXPECT_EQ(video.out.rfind("10 frames exported to", 0), 0u) << video.out << video.err;

  const std::set<std::string> before = entries(scratch.path);
  const std::string decode = "decode " + stream + " " + (scratch / "out"), mkv = scratch / "bad.mkv";
  for (const char* range : {"--from 5 --to 4", "--from -1", "--to x", "--from 130", "--to 130",
                                   "--from 3 --to 999999999999999", "--from"})
    expectRefused(decode + " " + range, scratch.path, before);
  expectRefused("video " + stream + " " + mkv + " --from 200", scratch.path, before);
  expectRefused("info " + stream + " --from 1", scratch.path, before);
}

}  // namespace
