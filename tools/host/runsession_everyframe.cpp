// `ekvision run --every-frame`: the module's hooks called by the host on every frame of a
// recording, once, in order, without the paced loop.
#include <chrono>
#include <cstdio>

#include "everyframe.h"
#include "interrupt.h"
#include "runsession.h"

namespace ekhost {
namespace {

// Detections are collected this often, well before a module's list of pending ones fills.
const long long kCollectEvery = 64;

}  // namespace

void RunSession::runEveryFrame(const std::vector<EK::EKValue>& arguments) {
  EveryFrameReader reader(*options_.camera, module_->getColorSpace());
  report_.everyFrame = true;
  report_.camera = "every frame of " + *options_.camera + " once, in order, unpaced (" +
                   std::to_string(reader.frameCount()) + " frames, " +
                   std::to_string(reader.width()) + "x" + std::to_string(reader.height()) + ")";
  listener_.note("camera: " + report_.camera);
  listener_.note(moduleLine());
  applyCalls(arguments);
  openDetectionLog();
  using Clock = std::chrono::steady_clock;
  const long long limit =
      std::min<long long>(reader.frameCount(), options_.frames.value_or(reader.frameCount()));
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      options_.seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(*options_.seconds))
                       : Clock::time_point::max();
  long long done = 0;
  module_->onStartDetection();
  try {
    for (; done < limit && !InterruptScope::requested() && Clock::now() < deadline; ++done) {
      EK::EKImage& image = reader.read(static_cast<unsigned int>(done));
      if (done == 0) {
        firstStamp_ = image.timeStamp;
      }
      module_->processImage(&image);
      if ((done + 1) % kCollectEvery == 0) {
        collectDetections();
      }
    }
  } catch (...) {
    module_->onStopDetection();
    throw;
  }
  module_->onStopDetection();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  collectDetections();
  report_.framesProcessed = done;
  report_.seconds = seconds;
  report_.rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  report_.detections = detections_.size();
  if (done == 0) {
    report_.status = EK::EKStatus(EK::EKCause::kUnavailable, "no frame reached the module");
  }
  finishFiles();
}

}  // namespace ekhost
