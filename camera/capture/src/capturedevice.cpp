#include "capturedevice.h"

#include <opencv2/videoio/registry.hpp>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <ekvideodevice/ekv4l2devices.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace capture {
namespace {

const unsigned char kNeutralChroma = 128;
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
    : target_(std::move(target)), frameRate_(frameRate) {}

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
  for (const cv::VideoCaptureAPIs api : apis) {
    if (cv::videoio_registry::hasBackend(api) && capture_.open(target_.location, api, params) &&
        capture_.isOpened()) {
      return;
    }
  }
  throw CaptureFailure(EKCause::kUnavailable, std::string("cannot open the ") +
                                                  toString(target_.kind) + " " + target_.location);
}

void CaptureDevice::openV4L2(int width, int height) {
  const std::vector<EKDeviceMode> modes = queryDeviceModes(target_.location, width, height);
  if (modes.empty()) {
    throw CaptureFailure(EKCause::kUnavailable, "cannot open or query the V4L2 device " +
                                                    target_.location +
                                                    " (missing, busy or not allowed)");
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
      // YUY2 frames reach the appsink as two-channel pictures, BGR ones as three: OpenCV
      // leaves them as they are. (Setting CAP_PROP_CONVERT_RGB would restart the pipeline,
      // losing what a non-live source had already read.)
      openWith({cv::CAP_GSTREAMER}, {});
      break;
    case EKCaptureKind::kNetworkStream:
      openWith({cv::CAP_FFMPEG, cv::CAP_GSTREAMER},
               {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, kStreamTimeoutMs, cv::CAP_PROP_READ_TIMEOUT_MSEC,
                kStreamTimeoutMs});
      break;
    case EKCaptureKind::kVideoFile:
      openWith({cv::CAP_FFMPEG, cv::CAP_GSTREAMER}, {});
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
  if (!capture_.grab()) {
    return ReadResult::kEnd;
  }
  frame.ownMicroseconds = -1;
  if (target_.kind == EKCaptureKind::kVideoFile) {
    frame.ownMicroseconds = static_cast<double>(played_) * filePeriod_;
    ++played_;
  } else if (target_.kind != EKCaptureKind::kNetworkStream) {
    // The driver's buffer time or the pipeline's running time, in milliseconds.
    const double milliseconds = capture_.get(cv::CAP_PROP_POS_MSEC);
    if (std::isfinite(milliseconds) && milliseconds > 0) {
      frame.ownMicroseconds = milliseconds * 1000.0;
    }
  }
  // A frame of the size before is retrieved straight into the buffer it had: OpenCV copies
  // into a picture of the right size and type rather than allocating one.
  cv::Mat* picture = &mat_;
  cv::Mat inPlace;
  if (frame.width > 0 &&
      frame.yuv.size() == static_cast<std::size_t>(frame.width) * frame.height * 2) {
    inPlace = cv::Mat(frame.height, frame.width, CV_8UC2, frame.yuv.data());
    picture = &inPlace;
  }
  if (!capture_.retrieve(*picture) || picture->empty()) {
    throw CaptureFailure(EKCause::kUnavailable, std::string("the ") + toString(target_.kind) + " " +
                                                    target_.location + " delivered an empty frame");
  }
  takeFrame(*picture, frame);
  return ReadResult::kFrame;
}

void CaptureDevice::takeFrame(const cv::Mat& mat, RawFrame& frame) {
  int width = mat.cols;
  int height = mat.rows;
  const std::size_t bytes = mat.total() * mat.elemSize();
  const bool rawYuyv = mat.type() == CV_8UC1 && mat.rows == 1 && bytes % 2 == 0;
  if (rawYuyv) {
    // A V4L2 buffer taken without conversion: one row of bytes.
    width = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_WIDTH));
    height = static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_HEIGHT));
    if (static_cast<std::size_t>(width) * height * 2 != bytes) {
      throw CaptureFailure(EKCause::kBadFormat, "a frame of " + std::to_string(bytes) +
                                                    " bytes is no " + sizeText(width, height) +
                                                    " YUYV picture");
    }
  }
  if (width <= 0 || height <= 0 || width % 2 != 0) {
    throw CaptureFailure(EKCause::kUnsupported, "cannot take frames of " + sizeText(width, height) +
                                                    " pixels: the width must be even");
  }
  frame.width = width;
  frame.height = height;
  frame.yuv.resize(static_cast<std::size_t>(width) * height * 2);
  unsigned char* out = frame.yuv.data();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 2;
  if (rawYuyv || mat.type() == CV_8UC2) {
    if (format_.empty()) {
      format_ = "YUYV as delivered";
    }
    if (mat.data == out) {
      // Retrieved in place.
    } else if (rawYuyv || mat.isContinuous()) {
      std::memcpy(out, mat.data, frame.yuv.size());
    } else {
      for (int y = 0; y < height; ++y) {
        std::memcpy(out + rowBytes * static_cast<std::size_t>(y), mat.ptr(y), rowBytes);
      }
    }
  } else if (mat.type() == CV_8UC3) {
    if (format_.empty()) {
      format_ = "BGR converted to YUV422";
    }
    const cv::Mat bgr = mat.isContinuous() ? mat : mat.clone();
    EKImage image(width, height, kColorSpaceYUV422, true);
    image.frame = out;
    image.computeYUV422imageFromBGR(height, width, reinterpret_cast<char*>(bgr.data));
  } else if (mat.type() == CV_8UC1 &&
             height == static_cast<int>(capture_.get(cv::CAP_PROP_FRAME_HEIGHT))) {
    if (format_.empty()) {
      format_ = "GRAY8 with neutral chroma";
    }
    for (int y = 0; y < height; ++y) {
      const unsigned char* luma = mat.ptr(y);
      unsigned char* row = out + rowBytes * static_cast<std::size_t>(y);
      for (int x = 0; x < width; ++x) {
        row[2 * x] = luma[x];
        row[2 * x + 1] = kNeutralChroma;
      }
    }
  } else {
    throw CaptureFailure(EKCause::kUnsupported,
                         "frames of this pixel format cannot be taken (" +
                             std::to_string(mat.channels()) + " channels, " +
                             sizeText(width, height) +
                             "); deliver YUY2, BGR or GRAY8, e.g. end a pipeline with "
                             "'videoconvert ! video/x-raw,format=YUY2'");
  }
}

}  // namespace capture
}  // namespace EK
