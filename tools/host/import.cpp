// Import: any video that FFmpeg (or OpenCV's own readers) reads becomes a YUV422
// recording stamped with the video's presentation times.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "host.h"
#include "import.h"
#include "pathguard.h"
#include "recording.h"
#include "thinning.h"
#include "videodecoder.h"
#include "videotimestamps.h"

namespace ekhost {
namespace {

// Opens @p path with OpenCV's own file readers, for what FFmpeg cannot read. Its FFmpeg
// reader would fail as FFmpeg did, and its GStreamer reader fills standard error with
// warnings on a broken file; camera backends are never asked: some probe the USB bus for
// every name they are given.
bool openVideoFile(cv::VideoCapture& capture, const std::string& path) {
  for (const cv::VideoCaptureAPIs api : {cv::CAP_OPENCV_MJPEG, cv::CAP_IMAGES}) {
    if (cv::videoio_registry::hasBackend(api) && capture.open(path, api) && capture.isOpened()) {
      return true;
    }
  }
  return false;
}

// The frames of the input in display order with their stamps: FFmpeg's libraries when
// they read the file, OpenCV's MJPEG and image-sequence readers otherwise (stamped at the
// rate they report).
class ImportInput {
 public:
  ImportInput(const std::string& path, long long start) {
    // The system's word for a missing file or a directory, not the decoder's.
    const EK::EKStatus problem = EK::videoFileStatus(path, false);
    if (!problem.ok()) {
      throw HostError(EK::EKStatus(problem.cause(),
                                   "cannot open the video " + path + ": " + problem.message(),
                                   problem.systemError()));
    }
    std::string why;
    decoder_ = VideoDecoder::open(path, start, why);
    if (decoder_) {
      return;
    }
    if (!openVideoFile(capture_, path)) {
      fail(EK::EKCause::kBadFormat, "cannot open the video " + path + ": " + why);
    }
    const double rate = capture_.get(cv::CAP_PROP_FPS);
    const Ratio nominal =
        rate > 0 && rate < 1e6 ? Ratio{std::llround(rate * 1000), 1000} : Ratio{25, 1};
    stamper_ = std::make_unique<VideoStamper>(std::vector<std::optional<std::int64_t>>{}, Ratio{},
                                              std::vector<Ratio>{nominal}, start);
    const double reported = capture_.get(cv::CAP_PROP_FRAME_COUNT);
    expected_ = reported > 0 && std::isfinite(reported) ? static_cast<std::uint64_t>(reported) : 0;
  }

  bool read(cv::Mat& frame, long long& stamp) {
    if (decoder_) {
      return decoder_->read(frame, stamp);
    }
    if (!capture_.read(frame) || frame.empty()) {
      return false;
    }
    stamp = stamper_->next(std::nullopt);
    return true;
  }
  std::uint64_t expected() const { return decoder_ ? decoder_->packetCount() : expected_; }
  std::uint64_t undecodable() const { return decoder_ ? decoder_->undecodable() : 0; }
  // "ends after N of the M frames its header announces" for a file cut short, else "".
  std::string cutShort() const {
    if (!decoder_ || decoder_->packetsInFile() >= decoder_->announcedFrames()) {
      return "";
    }
    return "ends after " + std::to_string(decoder_->packetsInFile()) + " of the " +
           std::to_string(decoder_->announcedFrames()) + " frames its header announces";
  }
  const VideoStamper& stamper() const { return decoder_ ? decoder_->stamper() : *stamper_; }

 private:
  std::unique_ptr<VideoDecoder> decoder_;
  cv::VideoCapture capture_;
  std::unique_ptr<VideoStamper> stamper_;
  std::uint64_t expected_ = 0;
};

}  // namespace

ImportReport importVideo(const ImportOptions& options, Listener& listener) {
  const std::string base = recordingBaseName(options.output);
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(options.resolution, width, height);
  checkRecordable(width, height, "--resolution");
  ImportReport report;
  report.path = base + ".arv";
  refuseOverwrites({{options.input, "the video that VIDEO names"}}, {{report.path, "OUT"}});
  ImportInput source(options.input, options.start);
  EK::EKVideo video;
  startRecording(video, report.path, {{width, height, EK::kColorSpaceYUV422, 8}});
  FrameThinner thinner(options.fps);
  bool writeFailed = false;
  std::optional<EK::EKStatus> readFailure;
  try {
    cv::Mat frame;
    cv::Mat bgr;
    cv::Mat sized;
    long long stamp = 0;
    while (source.read(frame, stamp)) {
      ++report.read;
      listener.progress(report.read, source.expected());
      if (!thinner.keep(stamp)) {
        continue;
      }
      if (frame.channels() == 1) {
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
      } else if (frame.channels() == 4) {
        cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
      } else {
        bgr = frame;
      }
      cv::resize(bgr, sized, cv::Size(width, height), 0, 0, cv::INTER_AREA);
      if (!video.write(height, width, reinterpret_cast<char*>(sized.data), stamp, 0, 0.0f, 0.0f,
                       0.0f, 0.0f)) {
        writeFailed = true;
        break;
      }
    }
  } catch (const HostError& error) {
    readFailure = error.status();  // the recording is closed before this is reported
  }
  report.imported = video.frameCount;
  const EK::EKStatus finished = writeFailed ? EK::lastVideoStatus(video) : finishRecording(video);
  if (!finished.ok()) {
    throw HostError(writeFailure(report.path, finished));
  }
  const std::string holds = "; " + report.path + " holds the " + std::to_string(report.imported);
  if (readFailure) {
    throw HostError(EK::EKStatus(readFailure->cause(),
                                 readFailure->message() + holds + " frames before it",
                                 readFailure->systemError()));
  }
  if (report.imported == 0) {
    std::remove(report.path.c_str());
    fail(EK::EKCause::kBadFormat, "no frame could be read from " + options.input);
  }
  const VideoStamper& stamper = source.stamper();
  report.constantRate = stamper.constantRate();
  report.rateNum = stamper.rate().num;
  report.rateDen = stamper.rate().den;
  report.adjusted = stamper.adjusted();
  if (!source.cutShort().empty()) {
    report.status =
        EK::EKStatus(EK::EKCause::kBadFormat, options.input + " " + source.cutShort() +
                                                  " (cut short?)" + holds + " frames read");
  } else if (source.undecodable() > 0) {
    report.status = EK::EKStatus(EK::EKCause::kBadFormat,
                                 std::to_string(source.undecodable()) +
                                     (source.undecodable() == 1 ? " frame of " : " frames of ") +
                                     options.input + " could not be decoded" + holds + " others");
  }
  return report;
}

}  // namespace ekhost
