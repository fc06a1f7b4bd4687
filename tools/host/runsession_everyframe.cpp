// `ekvision run --every-frame`: the module's hooks called by the host on every frame of a
// recording, once, in order, without the paced loop.
#include <chrono>
#include <cstdio>

#include "everyframe.h"
#include "runsession.h"

namespace ektool {
namespace {

// Detections are collected this often, well before a module's list of pending ones fills.
const long long kCollectEvery = 64;

}  // namespace

int RunSession::runEveryFrame(const std::vector<EK::EKValue>& arguments,
                              const volatile std::sig_atomic_t& interrupted) {
  EveryFrameReader reader(*options_.camera, module_->getColorSpace());
  output_.out << "camera: every frame of " << *options_.camera << " once, in order, unpaced ("
              << reader.frameCount() << " frames, " << reader.width() << "x" << reader.height()
              << ")\n"
              << "module: " << name_
              << (options_.module ? " from " + *options_.module : std::string(" (built in)"))
              << "\n";
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
    for (; done < limit && interrupted == 0 && Clock::now() < deadline; ++done) {
      EK::EKImage& image = reader.read(static_cast<unsigned int>(done));
      if (done == 0) {
        firstStamp_ = image.timeStamp;
      }
      module_->processImage(&image);
      if ((done + 1) % kCollectEvery == 0) {
        printDetections();
      }
    }
  } catch (...) {
    module_->onStopDetection();
    throw;
  }
  module_->onStopDetection();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  printDetections();
  char summary[160];
  std::snprintf(summary, sizeof summary,
                "frames:      %lld processed, every frame once; %.2f frames/s over %.3f s "
                "(unpaced)\ndetections:  %zu\n",
                done, seconds > 0 ? static_cast<double>(done) / seconds : 0.0, seconds,
                detections_.size());
  output_.out << summary;
  closeDetectionLog();
  if (done == 0) {
    throw ToolError("no frame reached the module");
  }
  return 0;
}

}  // namespace ektool
