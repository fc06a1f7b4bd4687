#include "livecamera.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekcapturesource.h>
#include <ekvideodevice/ekremotesource.h>
#include <ekvideodevice/ekremotespec.h>

#include "host.h"

namespace ekhost {
namespace {

std::string sizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

LiveCamera openRemoteCamera(const std::string& spec, int width, int height, int frameRate) {
  EK::EKRemoteSettings settings;
  settings.width = width;
  settings.height = height;
  settings.frameRate = frameRate;
  LiveCamera camera;
  std::shared_ptr<EK::EKRemoteSource> remote;
  try {
    remote = std::make_shared<EK::EKRemoteSource>(spec, settings);
  } catch (const EK::EKError& error) {
    throw HostError(statusOf(error, EK::EKCause::kUnavailable, "cannot open the camera " + spec));
  }
  const EK::EKLiveStatus status = remote->status();
  camera.description = "remote camera " + remote->endpoint() + " (" +
                       sizeText(status.deviceWidth, status.deviceHeight) + ", " +
                       status.deviceFormat.substr(0, status.deviceFormat.find(' ')) + ")";
  camera.source = std::move(remote);
  return camera;
}

}  // namespace

bool isRecordingSpec(const std::string& spec) {
  const std::string extension = ".arv";
  return spec.size() > extension.size() &&
         spec.compare(spec.size() - extension.size(), extension.size(), extension) == 0;
}

LiveCamera openLiveCamera(const std::string& spec, int width, int height, int frameRate,
                          bool loop) {
  if (EK::isRemoteSpec(spec)) {
    return openRemoteCamera(spec, width, height, frameRate);
  }
  EK::EKCaptureSettings settings;
  settings.width = width;
  settings.height = height;
  settings.frameRate = frameRate;
  settings.loop = loop;
  std::shared_ptr<EK::EKCaptureSource> capture;
  try {
    capture = std::make_shared<EK::EKCaptureSource>(spec, settings);
  } catch (const EK::EKError& error) {
    throw HostError(statusOf(error, EK::EKCause::kUnavailable, "cannot open the camera " + spec));
  }
  const EK::EKCaptureStatus status = capture->status();
  const EK::EKCaptureTarget& target = capture->target();
  LiveCamera camera;
  camera.description = std::string(EK::toString(target.kind)) + " '" + target.location + "' (" +
                       sizeText(status.deviceWidth, status.deviceHeight) + ", " +
                       status.deviceFormat + ")";
  if (status.deviceWidth != width || status.deviceHeight != height) {
    camera.description += ", scaled to " + sizeText(width, height);
  }
  camera.source = std::move(capture);
  return camera;
}

}  // namespace ekhost
