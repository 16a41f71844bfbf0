// Stream fixtures: each tests/fixtures/NAME.stream has a NAME.checksums with one line per
// completed frame: the POSIX cksum CRC of the cell history and of the picture (8-bit RGB, top
// line first, as the stream tool's PNGs hold it) at normal and Wide scale, in palette and
// Screen4 mode, each mode decoded from a black buffer and zeroed cell history.
//
// To regenerate after a deliberate change of a fixture or of the decoder's output, run
//   KESTRAVU_WRITE_CHECKSUMS=1 build/native/tests/stream_tool_tests --gtest_filter='StreamFixture*'
// which rewrites the .checksums files in the source tree; review the diff before committing.
// The streams themselves come from tests/fixtures/make_streams.sh.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "stream_test_support.h"

namespace {

using Result = FrameDecoder::Result;

constexpr PictureMode kModes[] = {{false, false}, {true, false}, {false, true}, {true, true}};

class StreamFixture : public DecoderTest {
 protected:
  std::vector<uint8_t> picture() const {
    const PictureSize size = pictureSize(mode.wide);
    std::vector<uint8_t> rgb;
    for (int line = 0; line < size.height; ++line) {
      for (int x = 0; x < size.width; ++x) {
        uint32_t value = pixel(line, x);
        rgb.insert(rgb.end(), {uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)});
      }
    }
    return rgb;
  }
  // Per completed frame: the cell history's checksum, then the picture's in each mode.
  std::vector<std::vector<uint32_t>> checksums(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint32_t>> frames;
    for (const PictureMode& drawn : kModes) {
      SetUp();  // fresh, zeroed decoder memory
      mode = drawn;
      size_t position = 0, frame = 0;
      for (Result result; (result = decode(stream, position)) != Result::SourceFailed;) {
        if (result == Result::NoFrame) continue;
        if (frame == frames.size())
          frames.push_back({posixCksum(history, FrameFormat::kCellsPerFrame)});
        std::vector<uint8_t> rgb = picture();
        frames[frame++].push_back(posixCksum(rgb.data(), rgb.size()));
      }
    }
    return frames;
  }
  void expectMatchesChecksumFile(const std::string& name) {
    std::string base = std::string(KESTRAVU_FIXTURES) + "/" + name;
    std::ifstream streamFile(base + ".stream", std::ios::binary);
    ASSERT_TRUE(streamFile) << base << ".stream";
    std::vector<uint8_t> stream((std::istreambuf_iterator<char>(streamFile)),
                                std::istreambuf_iterator<char>());
    std::ostringstream actual;
    actual << "# frame cells normal wide screen4 wide-screen4 (POSIX cksum CRCs)\n";
    std::vector<std::vector<uint32_t>> frames = checksums(stream);
    for (size_t frame = 0; frame < frames.size(); ++frame) {
      char line[128];
      std::snprintf(line, sizeof line, "%05zu %u %u %u %u %u\n", frame, frames[frame][0], frames[frame][1],
                    frames[frame][2], frames[frame][3], frames[frame][4]);
      actual << line;
    }
    if (std::getenv("KESTRAVU_WRITE_CHECKSUMS") != nullptr)
      std::ofstream(base + ".checksums") << actual.str();
    std::ifstream expectedFile(base + ".checksums");
    ASSERT_TRUE(expectedFile) << base << ".checksums";
    std::istringstream actualLines(actual.str());
    std::string expectedLine, actualLine;
    for (int number = 1; std::getline(expectedFile, expectedLine); ++number) {
      ASSERT_TRUE(std::getline(actualLines, actualLine)) << name << ": fewer frames than line " << number;
      EXPECT_EQ(actualLine, expectedLine) << name << ".checksums line " << number;
    }
    EXPECT_FALSE(std::getline(actualLines, actualLine)) << name << ": more frames than the checksum file";
  }
};

// The same CRC as the cksum command, so a line can be checked by hand: piping the 55,806 cell
// values or the picture's RGB bytes into `cksum` prints the number in the file.
TEST(PosixCksum, AgreesWithTheCksumCommand) {
  EXPECT_EQ(posixCksum(reinterpret_cast<const uint8_t*>("123456789"), 9), 930766865u);
  EXPECT_EQ(posixCksum(nullptr, 0), 4294967295u);
}

// Twelve frames of the test pattern: a key frame and moving delta frames.
TEST_F(StreamFixture, Pattern) { expectMatchesChecksumFile("pattern-12"); }

// Skipped bytes, a lone 0x81 marker, a delta frame before any key frame, restarts, 0x00 0x81
// as data, pairs past the frame's end and a last frame cut off (not counted).
TEST_F(StreamFixture, Handmade) { expectMatchesChecksumFile("handmade"); }

}  // namespace
