#include "capturedevice.h"

#include <opencv2/videoio/registry.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <ekvideodevice/ekmedialog.h>
#include <ekvideodevice/ekv4l2devices.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvisiondefinitions.h>

#include "medialogerror.h"

namespace EK {
namespace capture {
namespace {

// Network streams give up a read or an open after this long, instead of hanging.
const int kStreamTimeoutMs = 5000;

std::string sizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

long long wallMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

CaptureDevice::CaptureDevice(EKCaptureTarget target, int frameRate)
    : target_(std::move(target)), frameRate_(frameRate) {
  // FFmpeg (inside OpenCV) and GStreamer speak in the log, not on standard error.
  routeMediaLogs();
}

void CaptureDevice::openWith(const std::vector<cv::VideoCaptureAPIs>& apis,
                             const std::vector<int>& params) {
  // A video file that is missing, a directory, a FIFO or unreadable is named so: the
  // backends' refusal would not tell why.
  if (target_.kind == EKCaptureKind::kVideoFile) {
    const EKStatus problem = videoFileStatus(target_.location, false);
    if (!problem.ok()) {
      throw CaptureFailure(problem.cause(), std::string("cannot open the ") +
                                                toString(target_.kind) + " " + target_.location +
                                                ": " + problem.message());
    }
  }
  takeMediaError();
  for (const cv::VideoCaptureAPIs api : apis) {
    if (cv::videoio_registry::hasBackend(api) && capture_.open(target_.location, api, params) &&
        capture_.isOpened()) {
      return;
    }
  }
  // FFmpeg's own words for why, when it said any: "Connection refused", "moov atom not found".
  const std::string why = takeMediaError();
  throw CaptureFailure(EKCause::kUnavailable,
                       std::string("cannot open the ") + toString(target_.kind) + " " +
                           target_.location + ": " + (why.empty() ? "FFmpeg cannot read it" : why));
}

void CaptureDevice::openV4L2(int width, int height) {
  // The system's word for a device that is missing, busy or not allowed.
  const int device = ::open(target_.location.c_str(), O_RDWR | O_NONBLOCK);
  if (device < 0) {
    const int error = errno;
    throw CaptureFailure(
        causeOfSystemError(error),
        "cannot open the V4L2 device " + target_.location + ": " + systemErrorText(error));
  }
  ::close(device);
  const std::vector<EKDeviceMode> modes = queryDeviceModes(target_.location, width, height);
  if (modes.empty()) {
    throw CaptureFailure(EKCause::kUnavailable, "cannot query the formats of the V4L2 device " +
                                                    target_.location + ": is it a camera?");
  }
  const std::optional<EKCaptureMode> mode = chooseDeviceMode(modes, width, height);
  if (!mode) {
    throw CaptureFailure(EKCause::kUnsupported,
                         target_.location + " offers no YUYV, MJPEG or BGR format");
  }
  std::vector<int> params{cv::CAP_PROP_FOURCC,       static_cast<int>(mode->fourcc),
                          cv::CAP_PROP_FRAME_WIDTH,  mode->width,
                          cv::CAP_PROP_FRAME_HEIGHT, mode->height,
                          cv::CAP_PROP_CONVERT_RGB,  mode->native ? 0 : 1};
  if (frameRate_ > 0) {
    params.insert(params.end(), {cv::CAP_PROP_FPS, frameRate_});
  }
  openWith({cv::CAP_V4L2}, params);
  format_ = mode->native ? "YUYV as delivered"
                         : fourccText(mode->fourcc) + " decoded to BGR, converted to YUV422";
}

void CaptureDevice::open(int width, int height) {
  close();
  switch (target_.kind) {
    case EKCaptureKind::kV4L2Device:
      openV4L2(width, height);
      break;
    case EKCaptureKind::kGStreamer:
      // GStreamer itself, not OpenCV's reader of it: only the caps say which packed layout
      // a two-byte-per-pixel picture has, and the pipeline's errors are ours to word.
      pipeline_ = std::make_unique<GstPipeline>(target_.location);
      break;
    case EKCaptureKind::kNetworkStream:
      openWith({cv::CAP_FFMPEG}, {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, kStreamTimeoutMs,
                                  cv::CAP_PROP_READ_TIMEOUT_MSEC, kStreamTimeoutMs});
      break;
    case EKCaptureKind::kVideoFile:
      openWith({cv::CAP_FFMPEG}, {});
      break;
  }
  if (target_.kind == EKCaptureKind::kVideoFile) {
    const double rate = capture_.get(cv::CAP_PROP_FPS);
    filePeriod_ = rate > 0 && std::isfinite(rate) && rate <= 1000 ? 1e6 / rate : 1e6 / 25;
    played_ = 0;
    playStart_ = wallMicroseconds();
  }
}

void CaptureDevice::close() {
  pipeline_.reset();
  if (capture_.isOpened()) {
    capture_.release();
  }
  format_.clear();
}

void CaptureDevice::askSize(int width, int height) {
  if (target_.kind == EKCaptureKind::kV4L2Device && capture_.isOpened()) {
    capture_.set(cv::CAP_PROP_FRAME_WIDTH, width);
    capture_.set(cv::CAP_PROP_FRAME_HEIGHT, height);
  }
}

void CaptureDevice::rewind() {
  if (!capture_.set(cv::CAP_PROP_POS_FRAMES, 0)) {
    open(0, 0);
  }
  played_ = 0;
  playStart_ = wallMicroseconds();
}

ReadResult CaptureDevice::read(RawFrame& frame, const Sleeper& sleep) {
  if (target_.kind == EKCaptureKind::kVideoFile) {
    const long long due = playStart_ + std::llround(static_cast<double>(played_) * filePeriod_);
    if (!sleep(due)) {
      return ReadResult::kStopped;
    }
  }
  if (pipeline_) {
    return pipeline_->read(frame, [&sleep] { return sleep(0); });
  }
  if (!capture_.grab()) {
    return ReadResult::kEnd;
  }
  frame.ownMicroseconds = -1;
  if (target_.kind == EKCaptureKind::kVideoFile) {
    frame.ownMicroseconds = static_cast<double>(played_) * filePeriod_;
    ++played_;
  } else if (target_.kind == EKCaptureKind::kV4L2Device) {
    // The driver's buffer time, in milliseconds.
    const double milliseconds = capture_.get(cv::CAP_PROP_POS_MSEC);
    if (std::isfinite(milliseconds) && milliseconds > 0) {
      frame.ownMicroseconds = milliseconds * 1000.0;
    }
  }
  if (!capture_.retrieve(mat_) || mat_.empty()) {
    throw CaptureFailure(EKCause::kUnavailable, std::string("the ") + toString(target_.kind) + " " +
                                                    target_.location + " delivered an empty frame");
  }
  takeFrame(mat_, frame);
  return ReadResult::kFrame;
}

void CaptureDevice::takeFrame(const cv::Mat& mat, RawFrame& frame) {
  int width = mat.cols;
  int height = mat.rows;
  const std::size_t bytes = mat.total() * mat.elemSize();
  // A V4L2 buffer taken without conversion comes as one row of bytes.
  const bool rawYuyv =
      target_.kind == EKCaptureKind::kV4L2Device && mat.type() == CV_8UC1 && mat.rows == 1;
  if (rawYuyv) {
    width = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_WIDTH));
    height = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_HEIGHT));
    if (width <= 0 || height <= 0 || static_cast<std::size_t>(width) * height * 2 != bytes) {
      throw CaptureFailure(EKCause::kBadFormat, "a frame of " + std::to_string(bytes) +
                                                    " bytes is no " + sizeText(width, height) +
                                                    " YUYV picture");
    }
  } else if (mat.type() != CV_8UC3) {
    // OpenCV's decoders give BGR; anything else is not a picture this path knows.
    throw CaptureFailure(EKCause::kUnsupported, "frames of this pixel format cannot be taken (" +
                                                    std::to_string(mat.channels()) + " channels, " +
                                                    sizeText(width, height) +
                                                    "); only YUYV and decoded BGR are");
  }
  if (width <= 0 || height <= 0 || width % 2 != 0) {
    throw CaptureFailure(EKCause::kUnsupported, "cannot take frames of " + sizeText(width, height) +
                                                    " pixels: the width must be even");
  }
  unsigned char* out = frame.resize(width, height);
  if (rawYuyv) {
    if (format_.empty()) {
      format_ = "YUYV as delivered";
    }
    std::memcpy(out, mat.data, frame.bytes());
    return;
  }
  if (format_.empty()) {
    format_ = "BGR converted to YUV422";
  }
  const cv::Mat bgr = mat.isContinuous() ? mat : mat.clone();
  EKImage image(width, height, kColorSpaceYUV422, true);
  image.frame = out;
  image.computeYUV422imageFromBGR(height, width, reinterpret_cast<char*>(bgr.data));
}

}  // namespace capture
}  // namespace EK
