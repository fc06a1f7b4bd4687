#include <ekvision/ekdetection.h>

#include <ekvision/ekimage.h>

#include "timestamp.h"

namespace EK {
namespace {

namespace detectionarray {
enum Index {
  kSeconds,
  kMicroseconds,
  kFound,
  kX,
  kY,
  kWidth,
  kHeight,
  kLeft,
  kTop,
  kRight,
  kBottom,
  kPixels,
};
}  // namespace detectionarray

bool isNumber(const EKValue& value) {
  return value.isInt() || value.isFloat();
}

// The angle at @p at of @p size pixels between the edge angles @p from and @p to.
float across(float from, float to, int at, int size) {
  return size > 0 ? from + (to - from) / static_cast<float>(size) * static_cast<float>(at) : from;
}

}  // namespace

EKDetection EKDetection::boxIn(const EKImage& image, int x, int y, int w, int h, int pixelCount) {
  EKDetection detection;
  detection.timeStamp = image.timeStamp;
  detection.found = true;
  detection.x = x;
  detection.y = y;
  detection.w = w;
  detection.h = h;
  detection.pixelCount = pixelCount;
  detection.leftAngle = across(image.leftAngle, image.rightAngle, x, image.width);
  detection.rightAngle = across(image.leftAngle, image.rightAngle, x + w, image.width);
  detection.topAngle = across(image.topAngle, image.bottomAngle, y, image.height);
  detection.bottomAngle = across(image.topAngle, image.bottomAngle, y + h, image.height);
  return detection;
}

EKValue EKDetection::toEKValue() const {
  EKValue value;
  value.arraySetSize(kArraySize);
  value[detectionarray::kSeconds] = static_cast<int>(timeStamp / detail::kMicrosecondsPerSecond);
  value[detectionarray::kMicroseconds] =
      static_cast<int>(timeStamp % detail::kMicrosecondsPerSecond);
  value[detectionarray::kFound] = found;
  value[detectionarray::kX] = x;
  value[detectionarray::kY] = y;
  value[detectionarray::kWidth] = w;
  value[detectionarray::kHeight] = h;
  value[detectionarray::kLeft] = leftAngle;
  value[detectionarray::kTop] = topAngle;
  value[detectionarray::kRight] = rightAngle;
  value[detectionarray::kBottom] = bottomAngle;
  value[detectionarray::kPixels] = pixelCount;
  return value;
}

bool EKDetection::fromEKValue(const EKValue& value, EKDetection& detection) {
  if (!value.isArray() || value.getSize() < static_cast<unsigned>(kArraySize)) {
    return false;
  }
  for (int element : {detectionarray::kSeconds, detectionarray::kMicroseconds, detectionarray::kX,
                      detectionarray::kY, detectionarray::kWidth, detectionarray::kHeight,
                      detectionarray::kPixels}) {
    if (!value[element].isInt()) {
      return false;
    }
  }
  for (int element : {detectionarray::kLeft, detectionarray::kTop, detectionarray::kRight,
                      detectionarray::kBottom}) {
    if (!isNumber(value[element])) {
      return false;
    }
  }
  if (!value[detectionarray::kFound].isBool()) {
    return false;
  }
  EKDetection read;
  read.timeStamp = static_cast<long long>(static_cast<int>(value[detectionarray::kSeconds])) *
                       detail::kMicrosecondsPerSecond +
                   static_cast<int>(value[detectionarray::kMicroseconds]);
  read.found = static_cast<bool>(value[detectionarray::kFound]);
  read.x = static_cast<int>(value[detectionarray::kX]);
  read.y = static_cast<int>(value[detectionarray::kY]);
  read.w = static_cast<int>(value[detectionarray::kWidth]);
  read.h = static_cast<int>(value[detectionarray::kHeight]);
  read.leftAngle = static_cast<float>(value[detectionarray::kLeft]);
  read.topAngle = static_cast<float>(value[detectionarray::kTop]);
  read.rightAngle = static_cast<float>(value[detectionarray::kRight]);
  read.bottomAngle = static_cast<float>(value[detectionarray::kBottom]);
  read.pixelCount = static_cast<int>(value[detectionarray::kPixels]);
  detection = read;
  return true;
}

}  // namespace EK
