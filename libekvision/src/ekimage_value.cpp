// The image as a dynamic value: the twelve-element image array in which images cross
// module boundaries.
#include <ekvision/ekimage.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "imagesize.h"
#include "logrecord.h"
#include "timestamp.h"

namespace EK {
namespace {

// Positions in the image array.
enum ImageArrayIndex {
  kWidth = 0,
  kHeight = 1,
  kLayers = 2,
  kColorSpace = 3,
  kSeconds = 4,
  kMicroseconds = 5,
  kPixels = 6,
  kCameraId = 7,
  kLeftAngle = 8,
  kTopAngle = 9,
  kRightAngle = 10,
  kBottomAngle = 11,
  kImageArraySize = 12,
};

void refuse(const char* reason) {
  detail::logRecord(2, "EKImage", "fromEKValue", reason);
}

}  // namespace

EKValue EKImage::toEKValue() {
  EKValue value;
  value.arraySetSize(kImageArraySize);
  value[kWidth] = width;
  value[kHeight] = height;
  value[kLayers] = nbLayers;
  value[kColorSpace] = colorSpace;
  // Truncating division keeps the sign on both parts: -1 travels as 0 and -1.
  value[kSeconds] = static_cast<int>(timeStamp / detail::kMicrosecondsPerSecond);
  value[kMicroseconds] = static_cast<int>(timeStamp % detail::kMicrosecondsPerSecond);
  int bytes = 0;
  if (frame == nullptr || !detail::pictureByteCount(width, height, nbLayers, bytes)) {
    bytes = 0;
  }
  // Never read past the buffer, even when the header claims more than it holds.
  bytes = std::min(bytes, std::max(allocatedSize, 0));
  value[kPixels].SetBinary(frame, bytes);
  value[kCameraId] = static_cast<int>(cameraId);
  value[kLeftAngle] = leftAngle;
  value[kTopAngle] = topAngle;
  value[kRightAngle] = rightAngle;
  value[kBottomAngle] = bottomAngle;
  return value;
}

EKImage* EKImage::fromEKValue(const EKValue& value) {
  if (!value.isValid() || !value.isArray() || value.getSize() < kImageArraySize) {
    refuse("EKValue is not an image, cannot convert\n");
    return nullptr;
  }
  const int valueWidth = value[kWidth];
  const int valueHeight = value[kHeight];
  const int valueColorSpace = value[kColorSpace];
  const float left = value[kLeftAngle];
  const float top = value[kTopAngle];
  const float right = value[kRightAngle];
  const float bottom = value[kBottomAngle];
  if (!isColorSpaceValid(valueColorSpace)) {
    throw std::invalid_argument("EKImage: invalid colorspace");
  }
  int bytes = 0;
  if (!detail::pictureByteCount(valueWidth, valueHeight, getNumLayersInColorSpace(valueColorSpace),
                                bytes)) {
    refuse("EKValue image has an invalid size, cannot convert\n");
    return nullptr;
  }
  const EKValue& pixels = value[kPixels];
  if (!pixels.isBinary() || pixels.getBinarySize() < bytes) {
    refuse("EKValue image data is shorter than its size, cannot convert\n");
    return nullptr;
  }
  auto image = std::make_unique<EKImage>(valueWidth, valueHeight, valueColorSpace, true, left, top,
                                         right, bottom);
  // The value outlives the image: the image only points into its byte block.
  image->frame = static_cast<unsigned char*>(const_cast<void*>(pixels.GetBinary()));
  const int seconds = value[kSeconds];
  const int microseconds = value[kMicroseconds];
  image->timeStamp =
      static_cast<long long>(seconds) * detail::kMicrosecondsPerSecond + microseconds;
  return image.release();
}

}  // namespace EK
