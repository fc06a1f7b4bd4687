// Serving a camera to other machines: its frames published over ZeroMQ, its settings
// answered (docs/wire.md).
#ifndef EKVISION_TOOLS_HOST_SERVE_H
#define EKVISION_TOOLS_HOST_SERVE_H

#include <ekvision/ekstatus.h>

#include <optional>
#include <string>

#include "host.h"

namespace ekhost {

/// What a frame server is asked to do.
struct ServeOptions {
  std::optional<std::string> spec;   ///< the camera SPEC; the synthetic scene when empty
  std::optional<std::string> bind;   ///< frame endpoint; EK::defaultFrameEndpoint() when empty
  int resolution = 2;                ///< resolution code of the frames until a client asks another
  std::optional<int> fps;            ///< frames a second; kDefaultServeRate when empty
  std::string encoding = "raw";      ///< raw, zstd, jpeg or jpeg:QUALITY
  std::optional<std::string> curve;  ///< the server's CURVE key file
  std::optional<double> seconds;     ///< time limit; none: until Ctrl-C
  std::optional<long long> frames;   ///< frame count limit
};

/// Frames a second served when no rate is given.
const int kDefaultServeRate = 15;

/// What a frame server did.
struct ServeReport {
  std::string camera;              ///< the camera line
  std::string frameEndpoint;       ///< as bound, port resolved
  std::string settingsEndpoint;    ///< as bound
  long long published = 0;         ///< frames sent
  double seconds = 0;              ///< time spent serving
  long long settingsAnswered = 0;  ///< settings requests answered (taken or refused)
  long long cameraFailures = 0;    ///< failures of a live camera, which was reopened
  std::string lastCameraFailure;
  /// Ok, or why serving is a failure: no frame could be sent, or a video file ended before
  /// --frames N.
  EK::EKStatus status;
};

/// @brief Publishes the frames of @p options.spec on @p options.bind, each with its capture
/// stamp, camera index, angles and a sequence number, and answers clients' settings
/// (resolution, frame rate, active camera) within what the camera can do. Tells the camera
/// and the endpoints to @p listener as one line, refused clients and messages as warnings.
/// Ctrl-C ends it cleanly.
/// @throws HostError when nothing could be served: a bad encoding, endpoint or key file
///   (EKCause::kInvalidArgument and the key file's cause), a camera that cannot be opened,
///   an address that cannot be bound, CURVE missing from ZeroMQ
ServeReport serveCamera(const ServeOptions& options, Listener& listener);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_SERVE_H
