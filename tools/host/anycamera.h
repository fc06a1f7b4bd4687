// Any camera the tool knows, opened from its SPEC: the synthetic scene, a recording played
// in a loop, or a live source (livecamera.h). What `run --camera` and `serve SPEC` share.
#ifndef EKVISION_TOOLS_ANYCAMERA_H
#define EKVISION_TOOLS_ANYCAMERA_H

#include <ekvideodevice/eklivesource.h>
#include <ekvideodevice/eksyntheticsource.h>

#include <memory>
#include <optional>
#include <string>

namespace ekhost {

/// A camera opened for the tool.
struct OpenedCamera {
  std::shared_ptr<EK::EKFrameSource> source;     ///< what frames are grabbed from
  std::shared_ptr<EK::EKLiveSource> live;        ///< the same, when it is a live source
  std::shared_ptr<EK::EKSyntheticSource> scene;  ///< the same, when it is the scene
  bool recording = false;                        ///< a `.arv` recording played in a loop
  std::string description;                       ///< the camera line
  int width = 0;                                 ///< the frames' size
  int height = 0;                                ///< see width
};

/// @brief Opens @p spec (the synthetic scene when empty) for frames of resolution code
/// @p resolution at @p frameRate a second; a recording plays at its own size, a video
/// file in a loop when @p loop.
/// @throws HostError with the cause when the camera cannot be opened
OpenedCamera openCamera(const std::optional<std::string>& spec, int resolution, int frameRate,
                        bool loop);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_ANYCAMERA_H
