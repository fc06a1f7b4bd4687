#include "camerafeed.h"

#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>

#include <thread>

namespace ekhost {
namespace {

long long wallMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CameraFeed::CameraFeed(OpenedCamera camera, int frameRate)
    : camera_(std::move(camera)),
      period_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / frameRate))),
      nextTick_(Clock::now()) {
  // The frame a live source holds now is the first one read.
  if (camera_.live) {
    lastNumber_ = camera_.live->status().framesCaptured - 1;
  }
}

std::optional<EK::EKValue> CameraFeed::next(std::chrono::milliseconds timeout) {
  // A request made when the frame is due: the scene draws it for the request's time.
  const auto request = [this] {
    return EK::EKFrameRequest{
        "ekvision-feed", camera_.width,     camera_.height, EK::kColorSpaceYUV422, 0,
        delivered_,      wallMicroseconds()};
  };
  if (camera_.live) {
    // A failure not told yet is asked for, so that it is told; then frames are waited for.
    const auto untoldFailure = [this] {
      const EK::EKLiveStatus status = camera_.live->status();
      return status.failing && status.failures > toldFailures_;
    };
    if (!untoldFailure() && camera_.live->waitForFrame(lastNumber_, timeout) <= lastNumber_ &&
        !untoldFailure()) {
      return std::nullopt;
    }
    long long number = 0;
    EK::EKValue image;
    try {
      image = camera_.live->grabNumbered(request(), number);
    } catch (const EK::EKError&) {
      toldFailures_ = camera_.live->status().failures;
      throw;
    }
    if (number <= lastNumber_) {
      return std::nullopt;
    }
    lastNumber_ = number;
    ++delivered_;
    return image;
  }
  const Clock::time_point now = Clock::now();
  if (nextTick_ - now > timeout) {
    std::this_thread::sleep_for(timeout);
    return std::nullopt;
  }
  std::this_thread::sleep_until(nextTick_);
  // A reader that fell behind skips ahead: the next frame is a period after this one at
  // the earliest, never a burst of the frames it missed.
  nextTick_ = std::max(nextTick_, Clock::now()) + period_;
  EK::EKValue image = camera_.source->grab(request());
  ++delivered_;
  return image;
}

}  // namespace ekhost
