#include "motiondetection.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include <ekvision/ekdetection.h>

namespace ekmotion {

EK::EKImage::ROI angularBox(const EK::EKImage& image, int x, int y, int w, int h) {
  const EK::EKDetection box = EK::EKDetection::boxIn(image, x, y, w, h, 0);
  return EK::EKImage::ROI(x, y, w, h, box.leftAngle, box.topAngle, box.rightAngle, box.bottomAngle);
}

Detection MotionDetector::process(const EK::EKImage& image) {
  Detection detection;
  detection.timeStamp = image.timeStamp;
  const long long pixels = static_cast<long long>(image.width) * image.height;
  // Pixel indices are ints: pictures of 2^31 pixels and more are refused.
  if (image.colorSpace != EK::kColorSpaceYUV422 || image.frame == nullptr || pixels <= 0 ||
      pixels > std::numeric_limits<int>::max() || image.allocatedSize < pixels * 2) {
    return detection;
  }
  const bool primed = image.width == width_ && image.height == height_ &&
                      previous_.size() == static_cast<std::size_t>(pixels);
  if (!primed) {
    previous_.assign(static_cast<std::size_t>(pixels), 0);
    width_ = image.width;
    height_ = image.height;
  }
  changed_.assign(static_cast<std::size_t>(pixels), 0);
  const std::uint8_t* luma = image.frame;  // Y bytes sit at every even offset
  for (long long i = 0; i < pixels; ++i) {
    const std::uint8_t y = luma[2 * i];
    if (primed && std::abs(y - previous_[static_cast<std::size_t>(i)]) > threshold_) {
      changed_[static_cast<std::size_t>(i)] = 1;
      ++detection.changedPixels;
    }
    previous_[static_cast<std::size_t>(i)] = y;
  }
  if (detection.changedPixels > 0) {
    collectObjects(image, detection);
  }
  detection.found = !detection.objects.empty();
  return detection;
}

namespace {

// A connected region of changed pixels: its bounds (inclusive) and size.
struct Region {
  int left, top, right, bottom;
  int pixels;
  bool merged = false;
};

bool near(int a, int b) {
  return std::abs(a - b) <= 1;
}

// The two edges of one object that moved exactly along a row: the strip it left and the
// strip it entered have the same rows and the same width, side by side (or the same columns
// and height, one above the other, for a move along a column).
bool edgesOfOneMove(const Region& a, const Region& b) {
  const bool sameRows = near(a.top, b.top) && near(a.bottom, b.bottom) &&
                        near(a.right - a.left, b.right - b.left) &&
                        (a.right < b.left || b.right < a.left);
  const bool sameColumns = near(a.left, b.left) && near(a.right, b.right) &&
                           near(a.bottom - a.top, b.bottom - b.top) &&
                           (a.bottom < b.top || b.bottom < a.top);
  return sameRows || sameColumns;
}

}  // namespace

void MotionDetector::collectObjects(const EK::EKImage& image, Detection& detection) {
  std::vector<Region> regions;
  // Flood fill from every changed pixel not yet taken; a taken pixel is set back to 0.
  for (int start = 0; start < width_ * height_; ++start) {
    if (changed_[static_cast<std::size_t>(start)] == 0) {
      continue;
    }
    changed_[static_cast<std::size_t>(start)] = 0;
    pending_.assign(1, start);
    Region region{width_, height_, -1, -1, 0};
    while (!pending_.empty()) {
      const int at = pending_.back();
      pending_.pop_back();
      const int row = at / width_;
      const int column = at % width_;
      ++region.pixels;
      region.left = std::min(region.left, column);
      region.right = std::max(region.right, column);
      region.top = std::min(region.top, row);
      region.bottom = std::max(region.bottom, row);
      for (int r = std::max(row - 1, 0); r <= std::min(row + 1, height_ - 1); ++r) {
        for (int c = std::max(column - 1, 0); c <= std::min(column + 1, width_ - 1); ++c) {
          std::uint8_t& neighbour = changed_[static_cast<std::size_t>(r) * width_ + c];
          if (neighbour != 0) {
            neighbour = 0;
            pending_.push_back(r * width_ + c);
          }
        }
      }
    }
    regions.push_back(region);
  }
  // Pairs are looked for only among a bounded number of regions: a frame with more is noise.
  if (regions.size() <= kMaxRegionsPaired) {
    for (std::size_t i = 0; i < regions.size(); ++i) {
      for (std::size_t j = i + 1; j < regions.size() && !regions[i].merged; ++j) {
        if (!regions[j].merged && edgesOfOneMove(regions[i], regions[j])) {
          Region& kept = regions[i];
          kept.left = std::min(kept.left, regions[j].left);
          kept.right = std::max(kept.right, regions[j].right);
          kept.top = std::min(kept.top, regions[j].top);
          kept.bottom = std::max(kept.bottom, regions[j].bottom);
          kept.pixels += regions[j].pixels;
          regions[j].merged = true;
          break;
        }
      }
    }
  }
  for (const Region& region : regions) {
    if (!region.merged && region.pixels >= minimumPixels_) {
      MovingObject object;
      object.changedPixels = region.pixels;
      object.box = angularBox(image, region.left, region.top, region.right - region.left + 1,
                              region.bottom - region.top + 1);
      detection.objects.push_back(object);
    }
  }
  std::stable_sort(detection.objects.begin(), detection.objects.end(),
                   [](const MovingObject& a, const MovingObject& b) {
                     return a.changedPixels > b.changedPixels;
                   });
  if (detection.objects.size() > static_cast<std::size_t>(std::max(maximumObjects_, 0))) {
    detection.objects.resize(static_cast<std::size_t>(std::max(maximumObjects_, 0)));
  }
}

}  // namespace ekmotion
