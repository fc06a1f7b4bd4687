// `ekvision view CAMERA`: a camera's frames shown live, without a module.
#ifndef EKVISION_TOOLS_VIEWER_CAMERAVIEW_H
#define EKVISION_TOOLS_VIEWER_CAMERAVIEW_H

#include <optional>
#include <string>

#include "host.h"
#include "liveview.h"

namespace ekviewer {

/// What watching a camera is asked to do.
struct CameraViewOptions {
  std::optional<std::string> camera;  ///< camera address; none: the synthetic scene
  int fps = 15;                       ///< frames a second asked
  int resolution = 2;                 ///< resolution code asked
  std::optional<double> seconds;      ///< how long; none: until Ctrl-C or SIGTERM
};

/// @brief Opens the camera, hands its frames to @p view until the time is up or Ctrl-C,
/// and tells camera failures (which it survives) to @p listener.
/// @return the frames shown
/// @throws ekhost::HostError when the camera cannot be opened
long long watchCamera(const CameraViewOptions& options, LiveView& view, ekhost::Listener& listener);

/// @brief Waits until @p seconds have passed (none: for ever) or Ctrl-C or SIGTERM came.
void waitForTheEnd(const std::optional<double>& seconds);

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_CAMERAVIEW_H
