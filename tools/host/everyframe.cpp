#include "everyframe.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekarvsource.h>

#include "host.h"

namespace ekhost {

EveryFrameReader::EveryFrameReader(const std::string& path, int colorSpace)
    : path_(path), image_(EK::kResolution160x120, colorSpace) {
  try {
    // The camera's player counts the complete frames and refuses what it cannot play.
    frameCount_ = EK::EKArvSource(path).frameCount();
    video_.readVideo(path);
  } catch (const EK::EKError& error) {
    throw HostError(statusOf(error, EK::EKCause::kBadFormat, "cannot play " + path));
  }
  const EK::streamProperties& stream = video_.streams[0];
  if (static_cast<int>(stream.colorSpace) != colorSpace) {
    fail(EK::EKCause::kUnsupported,
         "--every-frame: the module takes color space " + std::to_string(colorSpace) + " but " +
             path + " holds color space " + std::to_string(stream.colorSpace) +
             "; play it paced (without --every-frame) to have it converted");
  }
  image_.setResolution(static_cast<int>(stream.resolution));
}

EK::EKImage& EveryFrameReader::read(unsigned int index) {
  if (!video_.getFrame(image_, index, 0, true)) {
    fail(EK::EKCause::kBadFormat, "cannot read frame " + std::to_string(index) + " of " + path_);
  }
  EK::EKArvSource::concealRecordHeader(image_);
  return image_;
}

}  // namespace ekhost
