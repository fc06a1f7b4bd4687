// The frames of any camera one after another, for a program that reads a camera in a loop
// (Python's ekvision.Camera): a live camera's newest frame once it is new, the synthetic
// scene and recordings paced at the frame rate asked.
#ifndef EKVISION_TOOLS_HOST_CAMERAFEED_H
#define EKVISION_TOOLS_HOST_CAMERAFEED_H

#include <ekvalue/ekvalue.h>

#include <chrono>
#include <optional>
#include <string>

#include "anycamera.h"

namespace ekhost {

/// @brief Reads the frames of an opened camera in order. Not thread-safe.
class CameraFeed {
 public:
  /// Frames of @p camera at its own size, at most @p frameRate a second (1 to 120).
  CameraFeed(OpenedCamera camera, int frameRate);

  /// @brief Waits up to @p timeout for a frame newer than the last one returned.
  /// @return its image array (YUV422, with the camera's stamp, index and angles), or
  ///   nothing when none came in time
  /// @throws EK::EKError naming the cause when the camera failed: once a failure; the next
  ///   calls wait for frames again, which come once the camera is back
  std::optional<EK::EKValue> next(std::chrono::milliseconds timeout);

  /// The camera line, e.g. "remote camera tcp://robot:7410 (640x480, raw)".
  const std::string& description() const { return camera_.description; }
  /// Frames returned so far.
  long long delivered() const { return delivered_; }

 private:
  using Clock = std::chrono::steady_clock;

  OpenedCamera camera_;
  Clock::duration period_;
  Clock::time_point nextTick_;
  long long lastNumber_ = 0;
  long long toldFailures_ = 0;
  long long delivered_ = 0;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_CAMERAFEED_H
