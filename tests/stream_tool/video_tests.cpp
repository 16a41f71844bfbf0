// The video command, with its files read back through FFmpeg's libraries: a lossless export
// holds exactly the pictures decode writes, one frame each at a constant rate; an H.264 export
// holds every frame at its size in its colours; bad input leaves nothing behind.
#include <algorithm>
#include <cmath>

#include "tool_run.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

const std::string kFixtures = KESTRAVU_FIXTURES;

struct Video {
  std::string codec;
  AVRational frameRate{0, 1};
  AVColorSpace colourSpace = AVCOL_SPC_UNSPECIFIED;
  AVColorRange colourRange = AVCOL_RANGE_UNSPECIFIED;
  std::vector<double> seconds;  // when each frame is shown
  // 0RGB32 frames as 8-bit RGB; of 4:2:0 frames only the luma plane, which keeps every pixel.
  std::vector<Picture> frames;
  std::vector<std::vector<uint8_t>> lumas;
};

struct VideoReader {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  int streamIndex = -1;

  ~VideoReader() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }

  bool open(const std::string& path, Video& video) {
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    const AVCodec* codec = nullptr;
    streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (streamIndex < 0 || (decoder = avcodec_alloc_context3(codec)) == nullptr) return false;
    AVStream* stream = format->streams[streamIndex];
    video.codec = codec->name, video.frameRate = stream->avg_frame_rate;
    video.colourSpace = stream->codecpar->color_space, video.colourRange = stream->codecpar->color_range;
    return avcodec_parameters_to_context(decoder, stream->codecpar) >= 0 &&
           avcodec_open2(decoder, codec, nullptr) >= 0;
  }

  bool receiveFrames(Video& video) {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      Picture& picture = video.frames.emplace_back();
      picture.width = frame->width, picture.height = frame->height;
      bool yuv = frame->format == AV_PIX_FMT_YUV420P;
      if (!yuv && frame->format != AV_PIX_FMT_0RGB32) return false;
      std::vector<uint8_t>& pixels = yuv ? video.lumas.emplace_back() : picture.rgb;
      for (int y = 0; y < frame->height; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x, row += yuv ? 1 : 4) {
          if (yuv) pixels.push_back(row[0]);
          else pixels.insert(pixels.end(), {row[2], row[1], row[0]});  // bytes B G R 0
        }
      }
      video.seconds.push_back(double(frame->best_effort_timestamp) *
                              av_q2d(format->streams[streamIndex]->time_base));
    }
    return true;
  }

  bool readAll(Video& video) {
    while (av_read_frame(format, packet) >= 0) {
      bool ours = packet->stream_index == streamIndex;
      int sent = ours ? avcodec_send_packet(decoder, packet) : 0;
      av_packet_unref(packet);
      if (sent < 0 || !receiveFrames(video)) return false;
    }
    return avcodec_send_packet(decoder, nullptr) >= 0 && receiveFrames(video);
  }
};

bool readVideo(const std::string& path, Video& video) {
  VideoReader reader;
  return reader.frame != nullptr && reader.packet != nullptr && reader.open(path, video) &&
         reader.readAll(video);
}

// The luma of BT.709 in limited range, which the H.264 export is tagged with, against the
// luma plane of a frame.
double lumaPsnr(const Picture& expected, const std::vector<uint8_t>& luma) {
  double squares = 0;
  for (size_t i = 0; i < luma.size(); ++i) {
    const uint8_t* rgb = &expected.rgb[i * 3];
    double y = 16 + 219 * (0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]) / 255;
    squares += (y - luma[i]) * (y - luma[i]);
  }
  return 10 * std::log10(255.0 * 255.0 * luma.size() / std::max(squares, 1e-9));
}

// Checks the video against the pictures of `decode` in `pictures`: count, size, a constant rate.
// Lossless frames must be the pictures; of lossy ones the luma must come close.
void expectFramesOfDecode(const Video& video, const std::string& pictures, int framesPerSecond,
                          double minimumLumaPsnr = 0) {
  ASSERT_EQ(video.frames.size(), entries(pictures).size());
  EXPECT_EQ(av_cmp_q(video.frameRate, AVRational{framesPerSecond, 1}), 0)
      << video.frameRate.num << "/" << video.frameRate.den;
  for (size_t i = 0; i < video.frames.size(); ++i) {
    Picture expected;
    ASSERT_TRUE(readPng(pictures + frameName(i), expected));
    ASSERT_EQ(video.frames[i].width * 1000 + video.frames[i].height, expected.width * 1000 + expected.height);
    EXPECT_NEAR(video.seconds[i], double(i) / framesPerSecond, 6e-4) << "frame " << i;  // Matroska: 1 ms
    if (video.lumas.empty())
      EXPECT_TRUE(video.frames[i].rgb == expected.rgb) << "frame " << i << " differs";
    else
      EXPECT_GE(lumaPsnr(expected, video.lumas[i]), minimumLumaPsnr) << "frame " << i;
  }
}

TEST(StreamToolVideo, LosslessExportHoldsExactlyThePicturesOfDecode) {
  struct Case {
    std::string stream, mode, rate;
    int framesPerSecond;
    size_t frames;
  } cases[] = {{"pattern-12.stream", "", "", 60, 12},
               {"pattern-12.stream", " --wide --screen4", " --fps 25", 25, 12},
               {"handmade.stream", "", " --fps 7", 7, 4}};  // skipped bytes, a cut-off last frame
  for (const Case& test : cases) {
    SCOPED_TRACE(test.stream + test.mode + test.rate);
    ScratchDirectory scratch;
    const std::string stream = kFixtures + "/" + test.stream;
    ASSERT_EQ(runTool("decode " + stream + " " + (scratch / "png") + test.mode).status, 0);
    ToolRun run = runTool("video " + stream + " " + (scratch / "out.mkv") + test.mode + test.rate);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(entries(scratch.path), (std::set<std::string>{"out.mkv", "png"}));
    Video video;
    ASSERT_TRUE(readVideo(scratch / "out.mkv", video));
    EXPECT_EQ(video.codec, "ffv1");
    EXPECT_EQ(video.frames.size(), test.frames);
    expectFramesOfDecode(video, scratch / "png", test.framesPerSecond);
  }
}

TEST(StreamToolVideo, H264ExportHoldsEveryFrameAtItsSizeInItsColours) {
  ScratchDirectory scratch;
  const std::string stream = kFixtures + "/pattern-12.stream";
  ASSERT_EQ(runTool("decode " + stream + " " + (scratch / "png")).status, 0);
  ToolRun run = runTool("video " + stream + " " + (scratch / "out.MP4") + " --fps 1000");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "12 frames exported to " + (scratch / "out.MP4") + " from 28684 bytes\n");
  Video video;
  ASSERT_TRUE(readVideo(scratch / "out.MP4", video));
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.colourSpace, AVCOL_SPC_BT709);
  EXPECT_EQ(video.colourRange, AVCOL_RANGE_MPEG);
  EXPECT_EQ(video.lumas.size(), 12u);
  expectFramesOfDecode(video, scratch / "png", 1000, 40.0);
}

// Matroska goes into a pipe as it is made; MP4, which must seek back, is refused.
TEST(StreamToolVideo, LosslessExportGoesThroughAPipe) {
  ScratchDirectory scratch;
  const std::string stream = kFixtures + "/pattern-12.stream";
  ASSERT_EQ(runTool("decode " + stream + " " + (scratch / "png")).status, 0);
  FifoReader fifo(scratch / "pipe.mkv");
  ToolRun run = runTool("video " + stream + " " + fifo.path);
  std::ofstream(scratch / "piped.mkv", std::ios::binary) << fifo.release();
  ASSERT_EQ(run.status, 0) << run.err;
  Video video;
  ASSERT_TRUE(readVideo(scratch / "piped.mkv", video));
  expectFramesOfDecode(video, scratch / "png", 60);
  FifoReader mp4(scratch / "pipe.mp4");
  run = runTool("video " + stream + " " + mp4.path);
  EXPECT_EQ(mp4.release(), "");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot be written into a pipe"), std::string::npos) << run.err;
}

TEST(StreamToolVideo, BadInputExitsWithStatusTwoAndLeavesNothingBehind) {
  ScratchDirectory scratch;
  std::ofstream(scratch / "empty.stream") << "";
  std::ofstream(scratch / "old.mkv") << "kept\n";
  const std::set<std::string> before = entries(scratch.path);
  const std::string stream = kFixtures + "/pattern-12.stream", out = scratch / "out.mkv";
  const std::string cases[] = {
      "video " + stream,
      "video " + (scratch / "missing.stream") + " " + out,
      "video " + (scratch / "missing.stream") + " " + (scratch / "old.mkv"),
      "video " + scratch.path + " " + out,
      "video " + (scratch / "empty.stream") + " " + out,  // no frame to export
      "video " + stream + " " + out + " --fps 0",
      "video " + stream + " " + out + " --fps 1001",
      "video " + stream + " " + out + " --fps 30x",
      "video " + stream + " " + out + " --fps",
      "video " + stream + " " + out + " --frames 3",
      "video " + stream + " " + (scratch / "out.avi"),
      "video " + stream + " " + (scratch / "mkv"),
      "video " + stream + " " + (scratch / "no/such/dir.mp4"),
  };
  for (const std::string& arguments : cases) expectRefused(arguments, scratch.path, before);
  EXPECT_EQ(readText(scratch / "old.mkv"), "kept\n");
}

}  // namespace
