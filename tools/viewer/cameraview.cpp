#include "cameraview.h"

#include <ekerror/ekerror.h>

#include <chrono>
#include <thread>

#include "anycamera.h"
#include "camerafeed.h"
#include "interrupt.h"

namespace ekviewer {
namespace {

using Clock = std::chrono::steady_clock;

// How often an idle wait looks for Ctrl-C.
const auto kInterruptPoll = std::chrono::milliseconds(100);

Clock::time_point deadlineOf(const std::optional<double>& seconds) {
  return seconds ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(*seconds))
                 : Clock::time_point::max();
}

}  // namespace

long long watchCamera(const CameraViewOptions& options, LiveView& view,
                      ekhost::Listener& listener) {
  ekhost::InterruptScope interrupts;
  ekhost::OpenedCamera camera =
      ekhost::openCamera(options.camera, options.resolution, options.fps, /*loop=*/true);
  listener.note("camera: " + camera.description);
  view.started("", options.fps, nullptr);
  ekhost::CameraFeed feed(std::move(camera), options.fps);
  const Clock::time_point deadline = deadlineOf(options.seconds);
  long long shown = 0;
  while (Clock::now() < deadline && !ekhost::InterruptScope::requested()) {
    try {
      if (std::optional<EK::EKValue> image = feed.next(kInterruptPoll)) {
        view.show(*image);
        ++shown;
      }
    } catch (const EK::EKError& error) {
      listener.warn(std::string("camera: ") + error.what());
    }
  }
  return shown;
}

void waitForTheEnd(const std::optional<double>& seconds) {
  ekhost::InterruptScope interrupts;
  const Clock::time_point deadline = deadlineOf(seconds);
  while (Clock::now() < deadline && !ekhost::InterruptScope::requested()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(kInterruptPoll, deadline - Clock::now()));
  }
}

}  // namespace ekviewer
