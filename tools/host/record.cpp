// ekvision record: a live camera, pipeline, stream or video file into a .arv recording.
#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <ostream>

#include "arguments.h"
#include "framerecorder.h"
#include "livecamera.h"
#include "observedsource.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

const char kRecordUsage[] =
    "usage: ekvision record SPEC OUT [--seconds S | --frames N] [--resolution R] [--fps N]\n"
    "\n"
    "Records a live camera into OUT (\".arv\" is appended unless OUT ends with it): one\n"
    "YUV422 stream, every frame stamped with its capture time. SPEC is /dev/videoN (a V4L2\n"
    "camera), gst:PIPELINE (a GStreamer pipeline, YUY2 or BGR at its appsink), a URL\n"
    "(rtsp://, http://) or a video file (played at its own rate, recorded to its end).\n"
    "A thread of its own writes the file: when the disk falls behind, frames are dropped\n"
    "and counted, never the camera's pace.\n"
    "\n"
    "  --seconds S     record for S seconds (default 10)\n"
    "  --frames N      record N frames\n"
    "  --resolution R  0 (160x120), 1 (320x240) or 2 (640x480, the default); asked of the\n"
    "                  camera, frames scaled when it cannot give that size\n"
    "  --fps N         ask the camera for N frames a second and keep at most N a second\n"
    "                  (default: ask for 30, keep every frame)\n"
    "\n"
    "Prints the camera, camera failures as they happen (a live source is reopened), and a\n"
    "summary: frames recorded, frames dropped (missed while the recorder was busy, or with\n"
    "its write queue full). Exits with 1 when the recording could not be written whole (a\n"
    "full disk, a file size limit) or --frames N were not all recorded; Ctrl-C ends the\n"
    "recording early, cleanly.\n";

const int kDefaultRecordRate = 30;
const double kDefaultRecordSeconds = 10.0;
const double kMaxRecordSeconds = 7 * 24 * 3600.0;

struct RecordOptions {
  std::string spec;
  std::string out;
  std::optional<double> seconds;
  std::optional<long long> frames;
  int resolution = EK::kResolution640x480;
  std::optional<int> fps;
};

RecordOptions parseRecordOptions(const Arguments& arguments) {
  expectPositional(arguments, {"SPEC", "OUT"});
  RecordOptions options;
  options.spec = arguments.positional[0];
  options.out = arguments.positional[1];
  if (arguments.has("seconds") && arguments.has("frames")) {
    throw UsageError("give --seconds or --frames, not both");
  }
  if (const auto seconds = arguments.value("seconds")) {
    char* end = nullptr;
    const double value = std::strtod(seconds->c_str(), &end);
    if (seconds->empty() || *end != '\0' || !std::isfinite(value) || value <= 0 ||
        value > kMaxRecordSeconds) {
      throw UsageError("--seconds must be a number of seconds above 0, not '" + *seconds + "'");
    }
    options.seconds = value;
  }
  if (const auto frames = arguments.value("frames")) {
    options.frames = parseInteger(*frames, "--frames", 1, 100000000);
  }
  if (!options.seconds && !options.frames) {
    options.seconds = kDefaultRecordSeconds;
  }
  options.resolution = static_cast<int>(
      parseInteger(arguments.value("resolution").value_or("2"), "--resolution", 0, 2));
  if (const auto fps = arguments.value("fps")) {
    options.fps = static_cast<int>(parseInteger(*fps, "--fps", 1, 120));
  }
  if (isRecordingSpec(options.spec)) {
    throw UsageError(options.spec +
                     " is a recording already; record a camera, a pipeline, a "
                     "stream or a video file");
  }
  return options;
}

volatile std::sig_atomic_t stopRequested = 0;

// Ctrl-C (or SIGTERM) ends the recording early but cleanly; a second one ends the process.
class StopOnInterrupt {
 public:
  StopOnInterrupt() {
    stopRequested = 0;
    previousInt_ = std::signal(SIGINT, request);
    previousTerm_ = std::signal(SIGTERM, request);
  }
  ~StopOnInterrupt() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }
  StopOnInterrupt(const StopOnInterrupt&) = delete;
  StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

 private:
  static void request(int signal) {
    stopRequested = 1;
    std::signal(signal, SIG_DFL);
  }
  void (*previousInt_)(int);
  void (*previousTerm_)(int);
};

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

}  // namespace

int runRecord(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(
      args, {{"seconds", true}, {"frames", true}, {"resolution", true}, {"fps", true}});
  if (arguments.help) {
    output.out << kRecordUsage;
    return 0;
  }
  const RecordOptions options = parseRecordOptions(arguments);
  const std::string path = recordingBaseName(options.out) + ".arv";
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(options.resolution, width, height);
  const LiveCamera camera =
      openLiveCamera(options.spec, width, height, options.fps.value_or(kDefaultRecordRate), false);
  FrameRecorder recorder(path, width, height, EK::kColorSpaceYUV422);
  output.out << "camera: " << camera.description << "\n"
             << "recording to " << path << "\n";
  output.out.flush();

  using Clock = std::chrono::steady_clock;
  StopOnInterrupt interrupts;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      options.seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(*options.seconds))
                      : Clock::time_point::max();
  const long long keepPeriod = options.fps ? 1000000LL / *options.fps : 0;
  const EK::EKFrameRequest request{
      "ekvision-record", width, height, EK::kColorSpaceYUV422, 0, 0, 0};
  const bool isFile = camera.source->target().kind == EK::EKCaptureKind::kVideoFile;
  long long offered = 0;
  long long missed = 0;
  long long lastNumber = 0;
  long long nextKept = 0;
  bool ended = false;
  // Frames captured before the recording started are not waited for.
  long long seen = camera.source->status().framesCaptured - 1;
  while (stopRequested == 0 && Clock::now() < deadline &&
         (!options.frames || offered < *options.frames)) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::min(deadline - Clock::now(), Clock::duration(std::chrono::milliseconds(200))));
    const long long latest =
        camera.source->waitForFrame(seen, std::max(wait, std::chrono::milliseconds(0)));
    long long number = 0;
    EK::EKValue image;
    try {
      image = camera.source->grabNumbered(request, number);
    } catch (const EK::EKError& error) {
      if (isFile) {
        ended = true;  // the video's end, or a frame it could not give: the end either way
        break;
      }
      output.progress << "ekvision record: " << error.getDescription() << "\n";
      continue;
    }
    seen = std::max(seen, latest);
    if (number <= lastNumber) {
      continue;  // the frame recorded last, or the one before a failure again
    }
    if (lastNumber > 0) {
      missed += number - lastNumber - 1;
    }
    lastNumber = number;
    seen = std::max(seen, number);
    if (keepPeriod > 0) {
      // At most one frame a period, with a quarter period of slack for the camera's jitter.
      const long long stamp = imageTimeStamp(image);
      if (offered > 0 && stamp + keepPeriod / 4 < nextKept) {
        continue;
      }
      // On the grid of periods from the first frame kept, unless the camera left a gap.
      nextKept = offered == 0 || stamp > nextKept + keepPeriod ? stamp + keepPeriod
                                                               : nextKept + keepPeriod;
    }
    recorder.offer(image);
    ++offered;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const RecorderReport report = recorder.finish();
  const long long dropped = missed + static_cast<long long>(report.dropped);
  if (report.writeFailed && report.recorded == 0) {
    throw ToolError("cannot write " + path +
                    " (disk full or file size limit): no frame reached it");
  }
  if (report.writeFailed) {
    throw ToolError("cannot write " + path +
                    " whole (disk full or file size limit): " + std::to_string(report.recorded) +
                    " frames reached it, the rest are lost; 'ekvision recover " + path +
                    "' makes them readable");
  }
  output.out << "recorded " << report.recorded << " frames in " << secondsText(elapsed) << " s ("
             << secondsText(static_cast<double>(report.recorded) / std::max(elapsed, 1e-6))
             << " frames/s) to " << path << "; dropped " << dropped << " (" << missed
             << " missed while the recorder was busy, " << report.dropped
             << " with its write queue full)\n";
  const EK::EKCaptureStatus status = camera.source->status();
  if (status.failures > 0 && !ended) {
    output.out << "camera failures: " << status.failures << " (last: " << status.lastFailure
               << ")\n";
  }
  if (report.recorded == 0) {
    std::remove(path.c_str());
    throw ToolError("no frame was recorded from " + options.spec);
  }
  if (options.frames && static_cast<long long>(report.recorded) < *options.frames) {
    throw ToolError("only " + std::to_string(report.recorded) + " of " +
                    std::to_string(*options.frames) + " frames were recorded" +
                    (ended ? " before the video ended" : ""));
  }
  return 0;
}

}  // namespace ektool
