// ekvision import: any video that OpenCV reads becomes a YUV422 recording.
#include <ekvision/ekvideo.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>

#include "arguments.h"
#include "progress.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

const char kImportUsage[] =
    "usage: ekvision import VIDEO OUT [--resolution R] [--fps N]\n"
    "\n"
    "Records every frame of VIDEO (any file that OpenCV's FFmpeg, GStreamer, MJPEG or\n"
    "image-sequence readers can read) into the recording OUT (\".arv\" is appended unless\n"
    "OUT ends with it): one YUV422 stream, frames resized to the resolution code R, time\n"
    "stamps in microseconds from the video's frame times.\n"
    "\n"
    "  --resolution R  0 (160x120), 1 (320x240) or 2 (640x480, the default)\n"
    "  --fps N         keep at most N frames a second of video, dropping the others\n";

// The time of the frame just read, in microseconds: the video's own frame time when it has
// one that moves forward, otherwise the frame index over the video's frame rate.
class FrameClock {
 public:
  explicit FrameClock(cv::VideoCapture& capture) : capture_(capture) {
    const double rate = capture.get(cv::CAP_PROP_FPS);
    period_ = rate > 0 && std::isfinite(rate) ? 1e6 / rate : 1e6 / 25;
  }
  long long next() {
    const double milliseconds = capture_.get(cv::CAP_PROP_POS_MSEC);
    long long stamp = std::llround(static_cast<double>(index_) * period_);
    if (milliseconds >= 0 && std::isfinite(milliseconds)) {
      const long long own = std::llround(milliseconds * 1000);
      if (index_ == 0 || own > last_) {
        stamp = own;
      }
    }
    if (index_ > 0 && stamp <= last_) {
      stamp = last_ + 1;
    }
    ++index_;
    last_ = stamp;
    return stamp;
  }

 private:
  cv::VideoCapture& capture_;
  double period_;
  long long index_ = 0;
  long long last_ = 0;
};

// Opens @p path with the backends that read files, in order of preference. Camera backends
// are never asked: some probe the USB bus for every name they are given.
bool openVideoFile(cv::VideoCapture& capture, const std::string& path) {
  for (const cv::VideoCaptureAPIs api :
       {cv::CAP_FFMPEG, cv::CAP_GSTREAMER, cv::CAP_OPENCV_MJPEG, cv::CAP_IMAGES}) {
    if (cv::videoio_registry::hasBackend(api) && capture.open(path, api) && capture.isOpened()) {
      return true;
    }
  }
  return false;
}

}  // namespace

int runImport(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {{"resolution", true}, {"fps", true}});
  if (arguments.help) {
    output.out << kImportUsage;
    return 0;
  }
  expectPositional(arguments, {"VIDEO", "OUT"});
  const int resolution = static_cast<int>(
      parseInteger(arguments.value("resolution").value_or("2"), "--resolution", 0, 2));
  const long long fps =
      arguments.has("fps") ? parseInteger(*arguments.value("fps"), "--fps", 1, 1000000) : 0;
  const std::string& input = arguments.positional[0];
  const std::string base = recordingBaseName(arguments.positional[1]);

  cv::VideoCapture capture;
  if (!openVideoFile(capture, input)) {
    throw ToolError("cannot open the video " + input);
  }
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(resolution, width, height);
  EK::EKVideo video;
  startRecording(video, base + ".arv", {{width, height, EK::kColorSpaceYUV422, 8}});
  const double reported = capture.get(cv::CAP_PROP_FRAME_COUNT);
  const auto total = reported > 0 && std::isfinite(reported) ? static_cast<std::uint64_t>(reported)
                                                             : std::uint64_t{0};
  FrameClock clock(capture);
  const double keepPeriod = fps > 0 ? 1e6 / static_cast<double>(fps) : 0;
  double nextKept = 0;
  std::uint64_t read = 0;
  bool writeFailed = false;
  int writeError = 0;
  {
    ProgressBar progress(output.progress, output.progressShown, total, "import");
    cv::Mat frame;
    cv::Mat bgr;
    cv::Mat sized;
    while (capture.read(frame) && !frame.empty()) {
      ++read;
      const long long stamp = clock.next();
      progress.update(read);
      if (fps > 0) {
        if (static_cast<double>(stamp) + 0.5 < nextKept) {
          continue;
        }
        nextKept = std::max(nextKept + keepPeriod, static_cast<double>(stamp));
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
        writeError = errno;
        writeFailed = true;
        break;
      }
    }
  }
  const unsigned int written = video.frameCount;
  if (!finishRecording(video) || writeFailed) {
    throw ToolError(writeFailure(base + ".arv", writeFailed ? writeError : errno));
  }
  if (written == 0) {
    std::remove((base + ".arv").c_str());
    throw ToolError("no frame could be read from " + input);
  }
  output.out << "imported " << written << " of " << read << " frames from " << input << " into "
             << base << ".arv\n";
  return 0;
}

}  // namespace ektool
