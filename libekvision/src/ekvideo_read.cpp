// The `.arv` player: selecting records and reading them into images.
#include <ekvision/ekvideo.h>

#include <cstdint>

#include "arvio.h"
#include "arvlayout.h"
#include "bytes.h"

namespace EK {
namespace {

// A file with no frames gives no valid index to clamp to: nothing can be read from it.
bool hasFrames(const EKVideo& video) {
  return video.isReading && video.frameCount > 0;
}

unsigned int clampIndex(unsigned int index, unsigned int count) {
  return index < count ? index : count - 1;
}

void selectRecord(EKVideo& video, unsigned int frameIndex, unsigned int streamIndex) {
  video.currentFrame = clampIndex(frameIndex, video.frameCount);
  video.currentStream = clampIndex(streamIndex, video.streamCount);
}

// Gives @p image the stream's color space and size; an external buffer cannot be adapted.
bool adaptTo(EKImage& image, const streamProperties& stream) {
  if (image.externalBuffer) {
    return false;
  }
  if (image.colorSpace != static_cast<int>(stream.colorSpace)) {
    image.setColorSpace(static_cast<int>(stream.colorSpace));
  }
  if (image.width != static_cast<int>(stream.width) ||
      image.height != static_cast<int>(stream.height)) {
    image.setResolution(static_cast<int>(stream.resolution));
  }
  return true;
}

// Whether the record can be read into the buffer without writing past it, and holds its
// own record header.
bool canHoldRecord(const EKImage& image, std::uint32_t dataSize) {
  return dataSize >= static_cast<std::uint32_t>(detail::kArvRecordHeaderSize) &&
         image.frame != nullptr && image.allocatedSize >= 0 &&
         static_cast<std::uint32_t>(image.allocatedSize) >= dataSize;
}

// Reads the record at @p offset into @p image and takes its header fields from the buffer.
// @p position is the input position when the caller knows it, or -1.
bool deliverRecord(EKVideo& video, EKImage& image, bool adapt, std::uint64_t offset,
                   std::streamoff position = -1) {
  const streamProperties& stream = video.streams[video.currentStream];
  if (adapt && !adaptTo(image, stream)) {
    return false;
  }
  if (!canHoldRecord(image, stream.dataSize)) {
    return false;
  }
  if (!detail::readAt(video.inputFile, offset, image.frame, stream.dataSize, position)) {
    return false;
  }
  const EKRecordHeader header = decodeRecordHeader(image.frame);
  image.timeStamp = header.timeStamp;
  image.cameraId = header.cameraId;
  if (video.version == detail::kArvVersion0) {
    image.leftAngle = detail::defaultLeftAngle();
    image.topAngle = detail::defaultTopAngle();
    image.rightAngle = detail::defaultRightAngle();
    image.bottomAngle = detail::defaultBottomAngle();
  } else {
    image.leftAngle = header.leftAngle;
    image.topAngle = header.topAngle;
    image.rightAngle = header.rightAngle;
    image.bottomAngle = header.bottomAngle;
  }
  return true;
}

// Reads the record that `currentFrame` and `currentStream` select.
bool deliverCurrentRecord(EKVideo& video, EKImage& image, bool adapt) {
  return deliverRecord(video, image, adapt,
                       detail::recordOffset(video, video.currentFrame, video.currentStream));
}

}  // namespace

bool EKVideo::goToFrame(unsigned int frameIndex, unsigned int streamIndex) {
  if (!hasFrames(*this)) {
    return false;
  }
  selectRecord(*this, frameIndex, streamIndex);
  detail::seekInput(inputFile, detail::recordOffset(*this, currentFrame, currentStream));
  return true;
}

bool EKVideo::getFrame(EKImage& image, unsigned int frameIndex, unsigned int streamIndex,
                       bool adaptImage) {
  if (!hasFrames(*this)) {
    return false;
  }
  selectRecord(*this, frameIndex, streamIndex);
  return deliverCurrentRecord(*this, image, adaptImage);
}

bool EKVideo::getNextFrame(EKImage& image, bool adaptImage) {
  if (!hasFrames(*this)) {
    return false;
  }
  if (currentFrame >= frameCount - 1) {
    currentFrame = frameCount - 1;
    return false;
  }
  ++currentFrame;
  const std::streamoff position = inputFile.tellg();
  if (position < 0) {
    return false;
  }
  // From the end of a record, the same stream's record of the next frame is one frame on.
  const std::uint64_t skip = frameSize - streams[currentStream].dataSize;
  return deliverRecord(*this, image, adaptImage, static_cast<std::uint64_t>(position) + skip,
                       position);
}

bool EKVideo::getPrecedingFrame(EKImage& image, bool adaptImage) {
  if (!hasFrames(*this) || currentFrame == 0) {
    return false;
  }
  --currentFrame;
  return deliverCurrentRecord(*this, image, adaptImage);
}

}  // namespace EK
