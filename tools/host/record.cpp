// Recording a live camera: frames grabbed as the camera makes them, thinned to the rate
// asked, and handed to a writer thread.
#include "record.h"

#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "framerecorder.h"
#include "interrupt.h"
#include "livecamera.h"
#include "observedsource.h"
#include "pathguard.h"
#include "recording.h"
#include "thinning.h"

namespace ekhost {

RecordReport recordCamera(const RecordOptions& options, Listener& listener) {
  if (isRecordingSpec(options.spec)) {
    fail(EK::EKCause::kInvalidArgument, options.spec +
                                            " is a recording already; record a camera, a "
                                            "pipeline, a stream or a video file");
  }
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(options.resolution, width, height);
  checkRecordable(width, height, "--resolution");
  RecordReport report;
  report.path = recordingBaseName(options.out) + ".arv";
  refuseOverwrites({{options.spec, "the camera that SPEC names"}}, {{report.path, "OUT"}});
  const LiveCamera camera =
      openLiveCamera(options.spec, width, height, options.fps.value_or(kDefaultRecordRate), false);
  FrameRecorder recorder(report.path, width, height, EK::kColorSpaceYUV422);
  report.camera = camera.description;
  listener.note("camera: " + camera.description);
  listener.note("recording to " + report.path);

  using Clock = std::chrono::steady_clock;
  InterruptScope interrupts;
  const Clock::time_point start = Clock::now();
  const std::optional<double> seconds =
      options.seconds || options.frames ? options.seconds : kDefaultRecordSeconds;
  const Clock::time_point deadline = seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(*seconds))
                                             : Clock::time_point::max();
  FrameThinner thinner(options.fps.value_or(0));
  const EK::EKFrameRequest request{
      "ekvision-record", width, height, EK::kColorSpaceYUV422, 0, 0, 0};
  const bool isFile = camera.source->ends();
  long long offered = 0;
  long long lastNumber = 0;
  // Frames captured before the recording started are not waited for.
  long long seen = camera.source->status().framesCaptured - 1;
  while (!InterruptScope::requested() && Clock::now() < deadline &&
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
        report.videoEnded = true;  // the video's end, or a frame it could not give: the end
        break;
      }
      listener.warn(error.getDescription());
      continue;
    }
    seen = std::max(seen, latest);
    if (number <= lastNumber) {
      continue;  // the frame recorded last, or the one before a failure again
    }
    if (lastNumber > 0) {
      report.missed += number - lastNumber - 1;
    }
    lastNumber = number;
    seen = std::max(seen, number);
    if (!thinner.keep(imageTimeStamp(image))) {
      continue;
    }
    recorder.offer(image);
    ++offered;
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const RecorderReport written = recorder.finish();
  report.recorded = static_cast<long long>(written.recorded);
  report.queueDropped = static_cast<long long>(written.dropped);
  const EK::EKLiveStatus status = camera.source->status();
  if (!report.videoEnded) {
    report.cameraFailures = status.failures;
    report.lastCameraFailure = status.lastFailure;
  }
  if (written.writeFailed) {
    report.writeFailed = true;
    report.status = writeFailure(report.path, written.writeStatus);
  } else if (report.recorded == 0) {
    std::remove(report.path.c_str());
    report.status =
        EK::EKStatus(EK::EKCause::kUnavailable, "no frame was recorded from " + options.spec);
  } else if (options.frames && report.recorded < *options.frames) {
    report.status = EK::EKStatus(EK::EKCause::kUnavailable,
                                 "only " + std::to_string(report.recorded) + " of " +
                                     std::to_string(*options.frames) + " frames were recorded" +
                                     (report.videoEnded ? " before the video ended" : ""));
  }
  return report;
}

}  // namespace ekhost
