#include "everyframe.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekarvsource.h>

#include "tool.h"

namespace ektool {

EveryFrameReader::EveryFrameReader(const std::string& path, int colorSpace)
    : path_(path), image_(EK::kResolution160x120, colorSpace) {
  try {
    // The camera's player counts the complete frames and refuses what it cannot play.
    frameCount_ = EK::EKArvSource(path).frameCount();
    video_.readVideo(path);
  } catch (const EK::EKError& error) {
    throw ToolError("cannot play " + path + ": " + error.getDescription());
  }
  const EK::streamProperties& stream = video_.streams[0];
  if (static_cast<int>(stream.colorSpace) != colorSpace) {
    throw ToolError("--every-frame: the module takes color space " + std::to_string(colorSpace) +
                    " but " + path + " holds color space " + std::to_string(stream.colorSpace) +
                    "; play it paced (without --every-frame) to have it converted");
  }
  image_.setResolution(static_cast<int>(stream.resolution));
}

EK::EKImage& EveryFrameReader::read(unsigned int index) {
  if (!video_.getFrame(image_, index, 0, true)) {
    throw ToolError("cannot read frame " + std::to_string(index) + " of " + path_);
  }
  EK::EKArvSource::concealRecordHeader(image_);
  return image_;
}

}  // namespace ektool
