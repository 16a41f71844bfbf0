// Writes pictures to a video file with FFmpeg's libraries: lossless FFV1 in Matroska, which
// keeps every pixel, or H.264 in MP4, which any player shows. One video frame per picture at a
// constant frame rate.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

class VideoWriter {
 public:
  VideoWriter() = default;
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;
  ~VideoWriter();  // without finish() the file is left incomplete; its owner abandons it

  // Writes into `file`, which its owner opened and closes; the container and codec follow
  // `lossless`. Matroska can be written straight into a pipe; MP4 needs to seek back.
  // Width and height must be even (4:2:0 chroma for H.264).
  bool open(FILE* file, bool seekable, int width, int height, int framesPerSecond, bool lossless);
  // `rgb`: 8-bit RGB, top line first, width * height * 3 bytes.
  bool writeFrame(const uint8_t* rgb);
  // Drains the encoder and writes the trailer; only then is the file complete.
  bool finish();

  // What went wrong in the last call that returned false.
  const std::string& error() const { return error_; }

 private:
  bool openEncoder(int framesPerSecond, bool lossless);
  bool openScaler(bool lossless);
  bool openOutput(FILE* file, bool seekable);
  bool writePackets();
  bool failed(const char* what, int status = 0);

  AVFormatContext* format_ = nullptr;
  AVCodecContext* encoder_ = nullptr;
  AVStream* stream_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int width_ = 0, height_ = 0;
  int64_t nextFrame_ = 0;
  std::string error_;
};
