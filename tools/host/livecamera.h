// The live cameras of the tool: what `--camera SPEC`, `ekvision record SPEC` and
// `ekvision serve SPEC` open.
#ifndef EKVISION_TOOLS_LIVECAMERA_H
#define EKVISION_TOOLS_LIVECAMERA_H

#include <ekvideodevice/eklivesource.h>

#include <memory>
#include <string>

namespace ekhost {

/// True when @p spec names a `.arv` recording, which the recording player plays; every other
/// spec is a live camera, a pipeline, a stream, a video file or a remote camera.
bool isRecordingSpec(const std::string& spec);

/// A live source opened for the tool, and the line that describes it.
struct LiveCamera {
  std::shared_ptr<EK::EKLiveSource> source;
  std::string
      description;  ///< e.g. "GStreamer pipeline 'videotestsrc ...' (640x480, YUYV as delivered)"
};

/// @brief Opens @p spec asking for frames of @p width x @p height at @p frameRate a
/// second; a video file plays in a loop when @p loop. `tcp://` and `ipc://` specs are
/// remote cameras (a frame server, EK::EKRemoteSource); every other one goes to the
/// capture source (EK::EKCaptureSource), `rtsp://` and `http://` streams included.
/// @throws HostError "cannot open the camera SPEC: <cause>"
LiveCamera openLiveCamera(const std::string& spec, int width, int height, int frameRate, bool loop);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_LIVECAMERA_H
