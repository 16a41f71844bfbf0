#include "video_writer.h"

#include <sys/stat.h>

#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

// The pictures are flat palette colours with edges and lines one pixel wide, which H.264's
// default quality (CRF 23) softens. At CRF 14 the luma of the test pattern's worst frame comes
// back at about 48 dB PSNR (at 23: 42 dB) for files some 30% larger; lower values grow the
// files for little more.
constexpr const char* kH264Quality = "14";
constexpr const char* kH264Preset = "medium";
constexpr int kOutputBufferBytes = 1 << 16;

// The write callback's bytes became const in libavformat 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

int writeToFile(void* file, WrittenBytes bytes, int size) {
  if (std::fwrite(bytes, 1, static_cast<size_t>(size), static_cast<FILE*>(file)) == static_cast<size_t>(size))
    return size;
  return AVERROR(errno != 0 ? errno : EIO);
}

int64_t seekInFile(void* opaque, int64_t offset, int whence) {
  FILE* file = static_cast<FILE*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat status;
    if (std::fflush(file) != 0 || fstat(fileno(file), &status) != 0) return AVERROR(errno);
    return status.st_size;
  }
  if (fseeko(file, offset, whence & ~AVSEEK_FORCE) != 0) return AVERROR(errno);
  return ftello(file);
}

}  // namespace

VideoWriter::~VideoWriter() {
  sws_freeContext(scaler_);
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  avcodec_free_context(&encoder_);
  if (format_ != nullptr && format_->pb != nullptr) {
    av_freep(&format_->pb->buffer);
    avio_context_free(&format_->pb);
  }
  avformat_free_context(format_);
}

bool VideoWriter::failed(const char* what, int status) {
  error_ = what;
  if (status < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    error_ += (error_.empty() ? "" : ": ") + std::string(text);
  }
  return false;
}

bool VideoWriter::open(FILE* file, bool seekable, int width, int height, int framesPerSecond, bool lossless) {
  // The libraries would talk on stderr (the encoder's settings and statistics); failures
  // come back as results and the tool reports them in its one line.
  av_log_set_level(AV_LOG_QUIET);
  // MP4 puts its index at the end and seeks back to it; its muxer would only say "invalid argument".
  if (!seekable && !lossless)
    return failed("an MP4 file cannot be written into a pipe or a device (a .mkv can)");
  width_ = width;
  height_ = height;
  int status = avformat_alloc_output_context2(&format_, nullptr, lossless ? "matroska" : "mp4", nullptr);
  if (status < 0) return failed("no muxer for the container", status);
  if (!openEncoder(framesPerSecond, lossless) || !openScaler(lossless)) return false;
  stream_ = avformat_new_stream(format_, nullptr);
  if (stream_ == nullptr) return failed("out of memory");
  if ((status = avcodec_parameters_from_context(stream_->codecpar, encoder_)) < 0)
    return failed("cannot set up the stream", status);
  stream_->time_base = encoder_->time_base;
  stream_->avg_frame_rate = stream_->r_frame_rate = encoder_->framerate;
  if (!openOutput(file, seekable)) return false;
  if ((status = avformat_write_header(format_, nullptr)) < 0)
    return failed("cannot write the header", status);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (frame_ == nullptr || packet_ == nullptr) return failed("out of memory");
  frame_->format = encoder_->pix_fmt;
  frame_->width = width;
  frame_->height = height;
  if ((status = av_frame_get_buffer(frame_, 0)) < 0) return failed("out of memory", status);
  return true;
}

bool VideoWriter::openOutput(FILE* file, bool seekable) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kOutputBufferBytes));
  if (buffer == nullptr) return failed("out of memory");
  format_->pb = avio_alloc_context(buffer, kOutputBufferBytes, 1, file, nullptr, writeToFile,
                                   seekable ? seekInFile : nullptr);
  if (format_->pb == nullptr) {
    av_free(buffer);
    return failed("out of memory");
  }
  format_->pb->seekable = seekable ? AVIO_SEEKABLE_NORMAL : 0;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  return true;
}

bool VideoWriter::openEncoder(int framesPerSecond, bool lossless) {
  // Only libx264 is asked for by name: another H.264 encoder (a hardware one) would ignore CRF.
  const AVCodec* codec =
      lossless ? avcodec_find_encoder(AV_CODEC_ID_FFV1) : avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr)
    return failed(lossless ? "this FFmpeg has no FFV1 encoder"
                           : "this FFmpeg has no H.264 encoder (libx264)");
  encoder_ = avcodec_alloc_context3(codec);
  if (encoder_ == nullptr) return failed("out of memory");
  encoder_->width = width_;
  encoder_->height = height_;
  encoder_->time_base = AVRational{1, framesPerSecond};
  encoder_->framerate = AVRational{framesPerSecond, 1};
  encoder_->thread_count = 0;  // as many as the machine has
  if (format_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (lossless) {
    // 0RGB32 (bytes B G R 0 here) is coded reversibly, so every pixel comes back exactly.
    // Level 3 codes slices that encode in parallel and carries their checksums.
    encoder_->pix_fmt = AV_PIX_FMT_0RGB32;
    av_dict_set(&options, "level", "3", 0);
    av_dict_set(&options, "slicecrc", "1", 0);
  } else {
    // Plain 4:2:0 as every player takes it, with the colours tagged as converted below.
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->colorspace = AVCOL_SPC_BT709;
    encoder_->color_primaries = AVCOL_PRI_BT709;
    encoder_->color_trc = AVCOL_TRC_IEC61966_2_1;  // the pictures are sRGB
    encoder_->color_range = AVCOL_RANGE_MPEG;
    encoder_->chroma_sample_location = AVCHROMA_LOC_CENTER;  // see openScaler
    av_dict_set(&options, "crf", kH264Quality, 0);
    av_dict_set(&options, "preset", kH264Preset, 0);
  }
  int status = avcodec_open2(encoder_, codec, &options);
  av_dict_free(&options);
  return status < 0 ? failed("cannot open the encoder", status) : true;
}

// RGB to 0RGB32 only moves bytes. RGB to 4:2:0 takes each chroma sample as the mean of its
// 2 x 2 pixels (area, so centred among them), so colour edges soften no more than the format
// itself demands; the luma keeps every pixel.
bool VideoWriter::openScaler(bool lossless) {
  scaler_ = sws_getContext(width_, height_, AV_PIX_FMT_RGB24, width_, height_, encoder_->pix_fmt,
                           SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) return failed("cannot convert the pictures");
  if (!lossless) {
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler_, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  }
  return true;
}

bool VideoWriter::writeFrame(const uint8_t* rgb) {
  // The encoder may still hold the previous frame's pixels.
  int status = av_frame_make_writable(frame_);
  if (status < 0) return failed("out of memory", status);
  const uint8_t* source[1] = {rgb};
  const int sourceStride[1] = {width_ * 3};
  sws_scale(scaler_, source, sourceStride, 0, height_, frame_->data, frame_->linesize);
  frame_->pts = nextFrame_++;
  if ((status = avcodec_send_frame(encoder_, frame_)) < 0) return failed("cannot encode", status);
  return writePackets();
}

bool VideoWriter::writePackets() {
  for (;;) {
    int status = avcodec_receive_packet(encoder_, packet_);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
    if (status < 0) return failed("cannot encode", status);
    av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
    packet_->stream_index = stream_->index;
    if ((status = av_interleaved_write_frame(format_, packet_)) < 0) return failed("", status);
  }
}

bool VideoWriter::finish() {
  int status = avcodec_send_frame(encoder_, nullptr);
  if (status < 0) return failed("cannot encode", status);
  if (!writePackets()) return false;
  if ((status = av_write_trailer(format_)) < 0) return failed("", status);
  avio_flush(format_->pb);
  if (format_->pb->error < 0) return failed("", format_->pb->error);
  return true;
}
