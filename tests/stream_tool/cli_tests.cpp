// The kestravu-stream program itself, run as a user would: bad input ends it with status 2,
// one line on stderr and nothing left behind; pictures survive encode and decode; decode's
// PNGs agree with the fixture checksums; info counts what a stream holds.
#include <random>
#include <sstream>

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
  };
  for (const std::string& arguments : cases) expectRefused(arguments, scratch.path, before);
}

// A failure after some pictures are written must not leave a set that looks like the stream.
TEST(StreamToolCommandLine, DecodeThatFailsMidwayRemovesItsPictures) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch / "frame-00001.png");  // cannot be replaced by a file
  ToolRun run = runTool("decode " + kFixtures + "/pattern-12.stream " + scratch.path);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(entries(scratch.path), std::set<std::string>{"frame-00001.png"});
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
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05zu.png", i);
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
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05d.png", frame);
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

}  // namespace
