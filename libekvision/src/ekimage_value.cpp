// The image as a dynamic value: the twelve-element image array in which images cross
// module boundaries.
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

#include "imagesize.h"
#include "logrecord.h"
#include "timestamp.h"

namespace EK {
namespace {

void refuse(const char* reason) {
  detail::logRecord(2, "EKImage", "fromEKValue", reason);
}

// The array of an image of that header, with an empty pixel block. An image without a
// buffer checks the header and writes its elements.
EKValue imageArrayHeader(int width, int height, int colorSpace, long long timeStamp, int cameraId,
                         float leftAngle, float topAngle, float rightAngle, float bottomAngle) {
  EKImage header(width, height, colorSpace, true, leftAngle, topAngle, rightAngle, bottomAngle);
  header.timeStamp = timeStamp;
  header.cameraId = static_cast<char>(cameraId);
  return header.toEKValue();
}

}  // namespace

EKValue EKImage::toEKValue() {
  EKValue value;
  value.arraySetSize(kImageArraySize);
  value[kImageArrayWidth] = width;
  value[kImageArrayHeight] = height;
  value[kImageArrayLayers] = nbLayers;
  value[kImageArrayColorSpace] = colorSpace;
  // Truncating division keeps the sign on both parts: -1 travels as 0 and -1.
  value[kImageArraySeconds] = static_cast<int>(timeStamp / detail::kMicrosecondsPerSecond);
  value[kImageArrayMicroseconds] = static_cast<int>(timeStamp % detail::kMicrosecondsPerSecond);
  int bytes = 0;
  if (frame == nullptr || !detail::pictureByteCount(width, height, nbLayers, bytes)) {
    bytes = 0;
  }
  // Never read past the buffer, even when the header claims more than it holds.
  bytes = std::min(bytes, std::max(allocatedSize, 0));
  value[kImageArrayPixels].SetBinary(frame, bytes);
  value[kImageArrayCamera] = static_cast<int>(cameraId);
  value[kImageArrayLeftAngle] = leftAngle;
  value[kImageArrayTopAngle] = topAngle;
  value[kImageArrayRightAngle] = rightAngle;
  value[kImageArrayBottomAngle] = bottomAngle;
  return value;
}

EKImage* EKImage::fromEKValue(const EKValue& value) {
  if (!value.isValid() || !value.isArray() ||
      value.getSize() < static_cast<unsigned int>(kImageArraySize)) {
    refuse("EKValue is not an image, cannot convert\n");
    return nullptr;
  }
  const int valueWidth = value[kImageArrayWidth];
  const int valueHeight = value[kImageArrayHeight];
  const int valueColorSpace = value[kImageArrayColorSpace];
  const float left = value[kImageArrayLeftAngle];
  const float top = value[kImageArrayTopAngle];
  const float right = value[kImageArrayRightAngle];
  const float bottom = value[kImageArrayBottomAngle];
  if (!isColorSpaceValid(valueColorSpace)) {
    throw std::invalid_argument("EKImage: invalid colorspace");
  }
  int bytes = 0;
  if (!detail::pictureByteCount(valueWidth, valueHeight, getNumLayersInColorSpace(valueColorSpace),
                                bytes)) {
    refuse("EKValue image has an invalid size, cannot convert\n");
    return nullptr;
  }
  const EKValue& pixels = value[kImageArrayPixels];
  if (!pixels.isBinary() || pixels.getBinarySize() < bytes) {
    refuse("EKValue image data is shorter than its size, cannot convert\n");
    return nullptr;
  }
  auto image = std::make_unique<EKImage>(valueWidth, valueHeight, valueColorSpace, true, left, top,
                                         right, bottom);
  // The value outlives the image: the image only points into its byte block.
  image->frame = static_cast<unsigned char*>(const_cast<void*>(pixels.GetBinary()));
  image->timeStamp = imageArrayTimeStamp(value);
  return image.release();
}

EKValue makeImageArray(int width, int height, int colorSpace, long long timeStamp, int cameraId,
                       float leftAngle, float topAngle, float rightAngle, float bottomAngle,
                       std::vector<unsigned char>&& pixels) {
  EKValue value = imageArrayHeader(width, height, colorSpace, timeStamp, cameraId, leftAngle,
                                   topAngle, rightAngle, bottomAngle);
  value[kImageArrayPixels].SetBinary(std::move(pixels));
  return value;
}

EKValue makeImageArray(int width, int height, int colorSpace, long long timeStamp, int cameraId,
                       float leftAngle, float topAngle, float rightAngle, float bottomAngle,
                       std::shared_ptr<unsigned char> pixels, int byteCount) {
  EKValue value = imageArrayHeader(width, height, colorSpace, timeStamp, cameraId, leftAngle,
                                   topAngle, rightAngle, bottomAngle);
  value[kImageArrayPixels].SetBinary(std::move(pixels), byteCount);
  return value;
}

long long imageArrayTimeStamp(const EKValue& image) {
  if (!image.isArray() || image.getSize() <= static_cast<unsigned int>(kImageArrayMicroseconds)) {
    return -1;
  }
  const int seconds = image[kImageArraySeconds];
  const int microseconds = image[kImageArrayMicroseconds];
  return static_cast<long long>(seconds) * detail::kMicrosecondsPerSecond + microseconds;
}

}  // namespace EK
