#include "videodecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <optional>
#include <vector>

#include <ekvideodevice/ekmedialog.h>

#include "host.h"

namespace ekhost {
namespace {

std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

Ratio toRatio(AVRational value) {
  return {value.num, value.den};
}

}  // namespace

struct VideoDecoder::Handles {
  // A file opened for demuxing, with its best video stream.
  struct Demuxer {
    AVFormatContext* format = nullptr;
    int stream = -1;
    const AVCodec* codec = nullptr;

    ~Demuxer() { avformat_close_input(&format); }
    // Opens @p path; on failure says why in @p why.
    bool open(const std::string& path, std::string& why) {
      int status = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
      if (status >= 0) {
        status = avformat_find_stream_info(format, nullptr);
      }
      if (status < 0) {
        why = errorText(status);
        return false;
      }
      stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
      if (stream == AVERROR_DECODER_NOT_FOUND) {
        why = "no decoder for its video stream";
      } else if (stream < 0 || codec == nullptr) {
        why = "it has no video stream";
      }
      return stream >= 0 && codec != nullptr;
    }
  };

  Demuxer input;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;

  ~Handles() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
  }
};

VideoDecoder::VideoDecoder() : handles_(std::make_unique<Handles>()) {}

VideoDecoder::~VideoDecoder() = default;

std::unique_ptr<VideoDecoder> VideoDecoder::open(const std::string& path, long long start,
                                                 std::string& why) {
  EK::routeMediaLogs();
  // First pass: the presentation time of every packet of the stream.
  std::vector<std::optional<std::int64_t>> times;
  Ratio timeBase;
  std::vector<Ratio> rates;
  std::uint64_t announced = 0;
  std::uint64_t inFile = 0;
  {
    Handles::Demuxer scan;
    if (!scan.open(path, why)) {
      return nullptr;
    }
    const AVStream* stream = scan.format->streams[scan.stream];
    timeBase = toRatio(stream->time_base);
    rates = {toRatio(stream->r_frame_rate), toRatio(stream->avg_frame_rate)};
    announced = stream->nb_frames > 0 ? static_cast<std::uint64_t>(stream->nb_frames) : 0;
    AVPacket* packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(scan.format, packet) >= 0) {
      if (packet->stream_index == scan.stream) {
        ++inFile;
      }
      if (packet->stream_index == scan.stream && (packet->flags & AV_PKT_FLAG_DISCARD) == 0) {
        times.push_back(packet->pts == AV_NOPTS_VALUE ? std::nullopt
                                                      : std::optional<std::int64_t>(packet->pts));
      }
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
  }
  std::unique_ptr<VideoDecoder> decoder(new VideoDecoder());
  decoder->path_ = path;
  decoder->packets_ = times.size();
  decoder->announced_ = announced;
  decoder->packetsInFile_ = inFile;
  decoder->stamper_ = std::make_unique<VideoStamper>(times, timeBase, rates, start);
  Handles& h = *decoder->handles_;
  if (!h.input.open(path, why)) {
    return nullptr;
  }
  h.codec = avcodec_alloc_context3(h.input.codec);
  h.packet = av_packet_alloc();
  h.frame = av_frame_alloc();
  if (h.codec == nullptr || h.packet == nullptr || h.frame == nullptr ||
      avcodec_parameters_to_context(h.codec, h.input.format->streams[h.input.stream]->codecpar) <
          0) {
    why = "out of memory";
    return nullptr;
  }
  h.codec->thread_count = 0;  // as many decoding threads as the machine has cores
  if (avcodec_open2(h.codec, h.input.codec, nullptr) < 0) {
    why = "its decoder cannot be started";
    return nullptr;
  }
  return decoder;
}

bool VideoDecoder::receive(cv::Mat& bgr, long long& stamp) {
  Handles& h = *handles_;
  const int status = avcodec_receive_frame(h.codec, h.frame);
  if (status < 0) {
    if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
      ++undecodable_;
    }
    return false;
  }
  const std::int64_t time = h.frame->best_effort_timestamp;
  stamp = stamper_->next(time == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(time));
  const int width = h.frame->width;
  const int height = h.frame->height;
  h.scaler = sws_getCachedContext(h.scaler, width, height,
                                  static_cast<AVPixelFormat>(h.frame->format), width, height,
                                  AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (h.scaler == nullptr) {
    av_frame_unref(h.frame);
    fail(EK::EKCause::kBadFormat, "cannot convert the pixels of " + path_ + " to BGR");
  }
  bgr.create(height, width, CV_8UC3);
  std::uint8_t* planes[1] = {bgr.data};
  const int strides[1] = {static_cast<int>(bgr.step[0])};
  sws_scale(h.scaler, h.frame->data, h.frame->linesize, 0, height, planes, strides);
  av_frame_unref(h.frame);
  return true;
}

bool VideoDecoder::read(cv::Mat& bgr, long long& stamp) {
  Handles& h = *handles_;
  for (;;) {
    if (receive(bgr, stamp)) {
      return true;
    }
    if (draining_) {
      return false;
    }
    const int status = av_read_frame(h.input.format, h.packet);
    if (status == AVERROR_EOF) {
      draining_ = true;
      avcodec_send_packet(h.codec, nullptr);
      continue;
    }
    if (status < 0) {
      fail(EK::EKCause::kBadFormat, "cannot read " + path_ + ": " + errorText(status));
    }
    if (h.packet->stream_index == h.input.stream && avcodec_send_packet(h.codec, h.packet) < 0) {
      ++undecodable_;
    }
    av_packet_unref(h.packet);
  }
}

}  // namespace ekhost
