#include "livecamera.h"

#include <ekerror/ekerror.h>

#include "host.h"

namespace ekhost {

bool isRecordingSpec(const std::string& spec) {
  const std::string extension = ".arv";
  return spec.size() > extension.size() &&
         spec.compare(spec.size() - extension.size(), extension.size(), extension) == 0;
}

LiveCamera openLiveCamera(const std::string& spec, int width, int height, int frameRate,
                          bool loop) {
  EK::EKCaptureSettings settings;
  settings.width = width;
  settings.height = height;
  settings.frameRate = frameRate;
  settings.loop = loop;
  LiveCamera camera;
  try {
    camera.source = std::make_shared<EK::EKCaptureSource>(spec, settings);
  } catch (const EK::EKError& error) {
    throw HostError(statusOf(error, EK::EKCause::kUnavailable, "cannot open the camera " + spec));
  }
  const EK::EKCaptureStatus status = camera.source->status();
  const EK::EKCaptureTarget& target = camera.source->target();
  camera.description = std::string(EK::toString(target.kind)) + " '" + target.location + "' (" +
                       std::to_string(status.deviceWidth) + "x" +
                       std::to_string(status.deviceHeight) + ", " + status.deviceFormat + ")";
  if (status.deviceWidth != width || status.deviceHeight != height) {
    camera.description += ", scaled to " + std::to_string(width) + "x" + std::to_string(height);
  }
  return camera;
}

}  // namespace ekhost
