#include <ekvision/ekdetection.h>

#include <ekvision/ekimage.h>

namespace EK {
namespace {

const long long kMicrosecondsPerSecond = 1000000;

enum Element {
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
  value[kSeconds] = static_cast<int>(timeStamp / kMicrosecondsPerSecond);
  value[kMicroseconds] = static_cast<int>(timeStamp % kMicrosecondsPerSecond);
  value[kFound] = found;
  value[kX] = x;
  value[kY] = y;
  value[kWidth] = w;
  value[kHeight] = h;
  value[kLeft] = leftAngle;
  value[kTop] = topAngle;
  value[kRight] = rightAngle;
  value[kBottom] = bottomAngle;
  value[kPixels] = pixelCount;
  return value;
}

bool EKDetection::fromEKValue(const EKValue& value, EKDetection& detection) {
  if (!value.isArray() || value.getSize() < static_cast<unsigned>(kArraySize)) {
    return false;
  }
  for (int element : {kSeconds, kMicroseconds, kX, kY, kWidth, kHeight, kPixels}) {
    if (!value[element].isInt()) {
      return false;
    }
  }
  for (int element : {kLeft, kTop, kRight, kBottom}) {
    if (!isNumber(value[element])) {
      return false;
    }
  }
  if (!value[kFound].isBool()) {
    return false;
  }
  EKDetection read;
  read.timeStamp =
      static_cast<long long>(static_cast<int>(value[kSeconds])) * kMicrosecondsPerSecond +
      static_cast<int>(value[kMicroseconds]);
  read.found = static_cast<bool>(value[kFound]);
  read.x = static_cast<int>(value[kX]);
  read.y = static_cast<int>(value[kY]);
  read.w = static_cast<int>(value[kWidth]);
  read.h = static_cast<int>(value[kHeight]);
  read.leftAngle = static_cast<float>(value[kLeft]);
  read.topAngle = static_cast<float>(value[kTop]);
  read.rightAngle = static_cast<float>(value[kRight]);
  read.bottomAngle = static_cast<float>(value[kBottom]);
  read.pixelCount = static_cast<int>(value[kPixels]);
  detection = read;
  return true;
}

}  // namespace EK
