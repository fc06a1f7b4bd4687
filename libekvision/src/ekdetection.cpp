#include <ekvision/ekdetection.h>

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

}  // namespace

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
