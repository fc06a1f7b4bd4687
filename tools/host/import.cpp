// ekvision import: any video that FFmpeg (or OpenCV's own readers) reads becomes a YUV422
// recording stamped with the video's presentation times.
#include <ekvision/ekvideo.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>

#include "arguments.h"
#include "import.h"
#include "progress.h"
#include "recording.h"
#include "tool.h"
#include "videodecoder.h"
#include "videotimestamps.h"

namespace ektool {
namespace {

const char kImportUsage[] =
    "usage: ekvision import VIDEO OUT [--resolution R] [--fps N] [--start TIME]\n"
    "\n"
    "Records every frame of VIDEO (any file that FFmpeg reads; otherwise OpenCV's MJPEG\n"
    "or image-sequence readers) into the recording OUT (\".arv\" is appended unless OUT\n"
    "ends with it): one YUV422 stream, frames in display order, resized to the resolution\n"
    "code R. Time stamps are the video's presentation times in microseconds, the first\n"
    "frame at TIME: a constant-rate video's frame i at exactly TIME + i/rate, a\n"
    "variable-rate video's frames at their own times.\n"
    "\n"
    "  --resolution R  0 (160x120), 1 (320x240) or 2 (640x480, the default)\n"
    "  --fps N         keep at most N frames a second of video, dropping the others\n"
    "  --start TIME    stamp of the first frame: seconds (\"90\", \"1733446800.25\") or\n"
    "                  [H:]MM:SS[.ffffff]; 0 by default\n";

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
    std::string why;
    decoder_ = VideoDecoder::open(path, start, why);
    if (decoder_) {
      return;
    }
    if (!openVideoFile(capture_, path)) {
      throw ToolError("cannot open the video " + path + ": " + why);
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

// "time stamps: ..." for the summary.
std::string stampLine(const VideoStamper& stamper, const std::string& input) {
  std::string line = "time stamps: ";
  if (stamper.constantRate()) {
    char rate[64];
    std::snprintf(
        rate, sizeof rate, "%.6g",
        static_cast<double>(stamper.rate().num) / static_cast<double>(stamper.rate().den));
    line += "constant rate, " + std::string(rate) + " frames/s (" +
            std::to_string(stamper.rate().num) + "/" + std::to_string(stamper.rate().den) + ")";
  } else {
    line += "variable rate, the presentation times of " + input;
  }
  if (stamper.adjusted() > 0) {
    line += "; " + std::to_string(stamper.adjusted()) +
            " frames without a usable time of their own were stamped one period after the "
            "previous one";
  }
  return line + "\n";
}

}  // namespace

ImportOptions parseImportOptions(const std::vector<std::string>& args) {
  const Arguments arguments =
      parseArguments(args, {{"resolution", true}, {"fps", true}, {"start", true}});
  ImportOptions options;
  if (arguments.help) {
    options.help = true;
    return options;
  }
  expectPositional(arguments, {"VIDEO", "OUT"});
  options.resolution = static_cast<int>(
      parseInteger(arguments.value("resolution").value_or("2"), "--resolution", 0, 2));
  options.fps =
      arguments.has("fps") ? parseInteger(*arguments.value("fps"), "--fps", 1, 1000000) : 0;
  options.start = arguments.has("start") ? parseStartTime(*arguments.value("start")) : 0;
  options.input = arguments.positional[0];
  options.output = arguments.positional[1];
  return options;
}

int importVideo(const ImportOptions& options, Output& output) {
  const int resolution = options.resolution;
  const long long fps = options.fps;
  const long long start = options.start;
  const std::string& input = options.input;
  const std::string base = recordingBaseName(options.output);

  ImportInput source(input, start);
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(resolution, width, height);
  EK::EKVideo video;
  startRecording(video, base + ".arv", {{width, height, EK::kColorSpaceYUV422, 8}});
  const double keepPeriod = fps > 0 ? 1e6 / static_cast<double>(fps) : 0;
  double nextKept = 0;
  std::uint64_t read = 0;
  bool writeFailed = false;
  int writeError = 0;
  std::string readFailure;
  try {
    ProgressBar progress(output.progress, output.progressShown, source.expected(), "import");
    cv::Mat frame;
    cv::Mat bgr;
    cv::Mat sized;
    long long stamp = 0;
    while (source.read(frame, stamp)) {
      ++read;
      progress.update(read);
      if (fps > 0) {
        const double sinceStart = static_cast<double>(stamp - start);
        if (sinceStart + 0.5 < nextKept) {
          continue;
        }
        nextKept = std::max(nextKept + keepPeriod, sinceStart);
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
  } catch (const ToolError& error) {
    readFailure = error.what();  // the recording is closed before this is reported
  }
  const unsigned int written = video.frameCount;
  errno = 0;
  const bool whole = finishRecording(video) && !writeFailed;
  const int finishError = errno;
  if (!whole) {
    throw ToolError(writeFailure(base + ".arv", writeFailed ? writeError : finishError));
  }
  if (!readFailure.empty()) {
    throw ToolError(readFailure + "; " + base + ".arv holds the " + std::to_string(written) +
                    " frames before it");
  }
  if (written == 0) {
    std::remove((base + ".arv").c_str());
    throw ToolError("no frame could be read from " + input);
  }
  output.out << "imported " << written << " of " << read << " frames from " << input << " into "
             << base << ".arv\n"
             << stampLine(source.stamper(), input);
  if (!source.cutShort().empty()) {
    throw ToolError(input + " " + source.cutShort() + " (cut short?); " + base + ".arv holds the " +
                    std::to_string(written) + " frames read");
  }
  if (source.undecodable() > 0) {
    throw ToolError(std::to_string(source.undecodable()) +
                    (source.undecodable() == 1 ? " frame of " : " frames of ") + input +
                    " could not be decoded; " + base + ".arv holds the " + std::to_string(written) +
                    " others");
  }
  return 0;
}

int runImport(const std::vector<std::string>& args, Output& output) {
  const ImportOptions options = parseImportOptions(args);
  if (options.help) {
    output.out << kImportUsage;
    return 0;
  }
  return importVideo(options, output);
}

}  // namespace ektool
