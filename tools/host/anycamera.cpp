#include "anycamera.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekarvsource.h>
#include <ekvision/ekvisiondefinitions.h>

#include "host.h"
#include "livecamera.h"

namespace ekhost {

OpenedCamera openCamera(const std::optional<std::string>& spec, int resolution, int frameRate,
                        bool loop) {
  OpenedCamera camera;
  EK::setSizeFromResolution(resolution, camera.width, camera.height);
  if (spec && !isRecordingSpec(*spec)) {
    // A live camera, a pipeline, a stream, a video file or a remote camera, at the size asked.
    LiveCamera live = openLiveCamera(*spec, camera.width, camera.height, frameRate, loop);
    camera.description = live.description;
    camera.live = live.source;
    camera.source = std::move(live.source);
  } else if (spec) {
    try {
      auto recording = std::make_shared<EK::EKArvSource>(*spec);
      camera.width = recording->width();
      camera.height = recording->height();
      camera.description = "playback of " + *spec + " in a loop (" +
                           std::to_string(recording->frameCount()) + " frames, " +
                           std::to_string(camera.width) + "x" + std::to_string(camera.height) +
                           ", its own size whatever --resolution says)";
      camera.recording = true;
      camera.source = std::move(recording);
    } catch (const EK::EKError& error) {
      throw HostError(statusOf(error, EK::EKCause::kBadFormat, "cannot play " + *spec));
    }
  } else {
    camera.scene = std::make_shared<EK::EKSyntheticSource>();
    camera.description = "synthetic scene " + std::to_string(camera.width) + "x" +
                         std::to_string(camera.height) + " (epoch " +
                         std::to_string(camera.scene->getEpoch()) + " us)";
    camera.source = camera.scene;
  }
  return camera;
}

}  // namespace ekhost
