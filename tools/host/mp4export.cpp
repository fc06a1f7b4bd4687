// Export: a stream of a recording as H.264 in fragmented MP4, through FFmpeg's libraries.
#include "mp4export.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <ekvideodevice/ekarvsource.h>
#include <ekvideodevice/ekmedialog.h>
#include <ekvision/ekvideo.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>

#include "contactsheet.h"
#include "detectionlog.h"
#include "export.h"
#include "pathguard.h"
#include "picture.h"
#include "recording.h"

namespace ekhost {
namespace {

// Presentation times are microseconds, as the recording's stamps are.
const AVRational kMicroseconds{1, 1000000};

std::string avErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// A failure of FFmpeg as a HostError: a system error keeps its cause (a full disk, say).
[[noreturn]] void failAv(int code, const std::string& context) {
  if (code < 0 && AVUNERROR(code) < 4096) {
    throw HostError(EK::EKStatus::fromSystemError(AVUNERROR(code), context));
  }
  fail(EK::EKCause::kSystem, context + ": " + avErrorText(code));
}

// The encoder, the muxer and the scalers of one export; freed in any case.
struct Mp4Writer {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* fromRecord = nullptr;  // the stored pixels
  SwsContext* fromBgr = nullptr;     // a picture with boxes drawn
  bool headerWritten = false;

  ~Mp4Writer() {
    if (headerWritten) {
      av_write_trailer(format);
    }
    if (format != nullptr && format->pb != nullptr) {
      avio_closep(&format->pb);
    }
    avformat_free_context(format);
    sws_freeContext(fromBgr);
    sws_freeContext(fromRecord);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
  }

  void open(const std::string& path, int width, int height, int crf) {
    EK::routeMediaLogs();
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
      fail(EK::EKCause::kUnsupported, "FFmpeg has no libx264 encoder to write " + path);
    }
    if (avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str()) < 0) {
      fail(EK::EKCause::kUnsupported, "FFmpeg cannot write MP4");
    }
    codec = avcodec_alloc_context3(h264);
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    stream = avformat_new_stream(format, nullptr);
    if (codec == nullptr || frame == nullptr || packet == nullptr || stream == nullptr) {
      fail(EK::EKCause::kSystem, "out of memory for the encoder");
    }
    codec->width = width;
    codec->height = height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = kMicroseconds;
    codec->gop_size = kMp4KeyFrameInterval;
    // No B-frames: every packet is presented as it is decoded, so the first frame shows at 0.
    codec->max_b_frames = 0;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) {
      codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* settings = nullptr;
    av_dict_set_int(&settings, "crf", crf, 0);
    // Fast enough to export faster than a camera records, on a small machine.
    av_dict_set(&settings, "preset", "veryfast", 0);
    int status = avcodec_open2(codec, h264, &settings);
    av_dict_free(&settings);
    if (status < 0) {
      failAv(status, "cannot start the H.264 encoder");
    }
    avcodec_parameters_from_context(stream->codecpar, codec);
    stream->time_base = kMicroseconds;
    status = avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
      failAv(status, "cannot write " + path);
    }
    AVDictionary* muxing = nullptr;
    av_dict_set(&muxing, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set_int(&muxing, "video_track_timescale", kMicroseconds.den, 0);
    status = avformat_write_header(format, &muxing);
    av_dict_free(&muxing);
    if (status < 0) {
      failAv(status, "cannot write " + path);
    }
    headerWritten = true;
    frame->format = codec->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0) {
      fail(EK::EKCause::kSystem, "out of memory for a frame");
    }
  }

  // Converts @p pixels (@p stride bytes a row, in @p layout) into the encoder's frame.
  void convert(SwsContext*& scaler, AVPixelFormat layout, const std::uint8_t* pixels, int stride) {
    scaler = sws_getCachedContext(scaler, codec->width, codec->height, layout, codec->width,
                                  codec->height, codec->pix_fmt, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr);
    if (scaler == nullptr || av_frame_make_writable(frame) < 0) {
      fail(EK::EKCause::kSystem, "cannot convert a frame for the encoder");
    }
    const std::uint8_t* planes[1] = {pixels};
    const int strides[1] = {stride};
    sws_scale(scaler, planes, strides, 0, codec->height, frame->data, frame->linesize);
  }

  // Encodes the frame at @p pts, or drains the encoder when @p last; writes what comes out.
  void encode(long long pts, bool last, const std::string& path) {
    if (!last) {
      frame->pts = pts;
    }
    int status = avcodec_send_frame(codec, last ? nullptr : frame);
    while (status >= 0) {
      status = avcodec_receive_packet(codec, packet);
      if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
        return;
      }
      if (status < 0) {
        break;
      }
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      status = av_interleaved_write_frame(format, packet);
      if (status >= 0 && format->pb->error < 0) {
        status = format->pb->error;
      }
    }
    failAv(status, "cannot write " + path);
  }
};

}  // namespace

Mp4ExportReport exportMp4(const Mp4ExportOptions& options, Listener& listener) {
  const std::string& path = options.recording;
  if (options.crf < kMinCrf || options.crf > kMaxCrf) {
    fail(EK::EKCause::kInvalidArgument, "--crf " + std::to_string(options.crf) +
                                            " is out of range: from " + std::to_string(kMinCrf) +
                                            " to " + std::to_string(kMaxCrf));
  }
  std::vector<GuardedFile> inputs{{path, "the recording that FILE.arv names"}};
  if (!options.detections.empty()) {
    inputs.push_back({options.detections, "the detections that --detections names"});
  }
  refuseOverwrites(inputs, {{options.output, "OUT.mp4"}});
  EK::EKVideo video;
  const EK::EKVideoInspection file = openRecording(video, path);
  const EK::streamProperties& properties = exportableStream(video, file, path, options.stream);
  const int width = static_cast<int>(properties.width);
  const int height = static_cast<int>(properties.height);
  if (width % 2 != 0 || height % 2 != 0) {
    fail(EK::EKCause::kUnsupported, "stream " + std::to_string(options.stream) + " is " +
                                        std::to_string(width) + "x" + std::to_string(height) +
                                        ": H.264 in 4:2:0 needs an even width and height");
  }
  const bool yuv = properties.colorSpace == EK::kColorSpaceYUV422;
  const DetectionsByStamp detections =
      options.detections.empty() ? DetectionsByStamp{} : readDetectionLog(options.detections);

  Mp4Writer writer;
  writer.open(options.output, width, height, options.crf);
  EK::EKImage image(static_cast<int>(properties.resolution),
                    static_cast<int>(properties.colorSpace));
  Mp4ExportReport report;
  report.stream = options.stream;
  report.output = options.output;
  const FrameRange range = exportRange(file.playableFrames, options.from, options.to);
  const auto begin = static_cast<std::uint64_t>(range.first);
  const auto end = static_cast<std::uint64_t>(range.last) + 1;
  const std::uint64_t count = end - begin;
  long long first = 0;
  long long previous = 0;
  long long pts = 0;
  for (std::uint64_t index = begin; index < end; ++index) {
    if (!video.getFrame(image, static_cast<std::uint32_t>(index), options.stream, true)) {
      fail(EK::EKCause::kBadFormat, "cannot read frame " + std::to_string(index) + " of " + path);
    }
    const long long stamp = image.timeStamp;
    if (index == begin) {
      first = stamp;
    } else if (stamp < previous) {
      fail(EK::EKCause::kBadFormat,
           "frame " + std::to_string(index) + " of " + path + " is stamped " +
               std::to_string(stamp) + " us, before the frame before it (" +
               std::to_string(previous) + " us): an MP4 shows frames in time order");
    }
    // A recorder that fetched one camera picture twice repeats its stamp. The repeat is shown
    // a microsecond after the frame before it, so that every recorded frame is in the file
    // and the file's times still increase.
    pts = index == begin ? 0 : std::max(stamp - first, pts + 1);
    previous = stamp;
    EK::EKArvSource::concealRecordHeader(image);
    cv::Mat picture;
    if (detections.count(stamp) != 0) {
      picture = pictureOf(image);
      if (picture.channels() == 1) {
        cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
      }
    }
    if (!picture.empty() && drawDetections(picture, detections, stamp)) {
      writer.convert(writer.fromBgr, AV_PIX_FMT_BGR24, picture.data,
                     static_cast<int>(picture.step));
      ++report.boxedFrames;
    } else {
      writer.convert(writer.fromRecord, yuv ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_GRAY8, image.frame,
                     yuv ? 2 * width : width);
    }
    writer.encode(pts, false, options.output);
    listener.progress(index + 1 - begin, count);
  }
  writer.encode(0, true, options.output);
  writer.headerWritten = false;
  const int status = av_write_trailer(writer.format);
  if (status < 0 || writer.format->pb->error < 0) {
    failAv(status < 0 ? status : writer.format->pb->error, "cannot write " + options.output);
  }
  avio_flush(writer.format->pb);
  report.frames = count;
  report.from = begin;
  report.duration = previous - first;
  return report;
}

}  // namespace ekhost
