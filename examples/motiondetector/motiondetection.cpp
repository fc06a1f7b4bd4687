#include "motiondetection.h"

#include <algorithm>
#include <cstdlib>

#include <ekvision/ekdetection.h>

namespace ekexample {

EK::EKImage::ROI angularBox(const EK::EKImage& image, int x, int y, int w, int h) {
  const EK::EKDetection box = EK::EKDetection::boxIn(image, x, y, w, h, 0);
  return EK::EKImage::ROI(x, y, w, h, box.leftAngle, box.topAngle, box.rightAngle, box.bottomAngle);
}

Detection MotionDetector::process(const EK::EKImage& image) {
  Detection detection;
  detection.timeStamp = image.timeStamp;
  const long long pixels = static_cast<long long>(image.width) * image.height;
  if (image.colorSpace != EK::kColorSpaceYUV422 || image.frame == nullptr || pixels <= 0 ||
      image.allocatedSize < pixels * 2) {
    return detection;
  }
  const bool primed = image.width == width_ && image.height == height_ &&
                      previous_.size() == static_cast<std::size_t>(pixels);
  if (!primed) {
    previous_.assign(static_cast<std::size_t>(pixels), 0);
    width_ = image.width;
    height_ = image.height;
  }
  int left = width_, top = height_, right = -1, bottom = -1;
  const std::uint8_t* luma = image.frame;  // Y bytes sit at every even offset
  for (int row = 0; row < height_; ++row) {
    std::uint8_t* before = previous_.data() + static_cast<std::size_t>(row) * width_;
    const std::uint8_t* now = luma + static_cast<std::size_t>(row) * width_ * 2;
    for (int column = 0; column < width_; ++column) {
      const std::uint8_t y = now[2 * column];
      if (primed && std::abs(y - before[column]) > threshold_) {
        ++detection.changedPixels;
        left = std::min(left, column);
        right = std::max(right, column);
        top = std::min(top, row);
        bottom = std::max(bottom, row);
      }
      before[column] = y;
    }
  }
  if (detection.changedPixels >= minimumPixels_) {
    detection.found = true;
    detection.box = angularBox(image, left, top, right - left + 1, bottom - top + 1);
  }
  return detection;
}

}  // namespace ekexample
