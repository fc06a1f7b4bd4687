#include "scenescore.h"

#include <ekvision/ekimagevalue.h>

#include <algorithm>
#include <cstdio>

#include "observedsource.h"

namespace ekhost {
namespace {

// Frame sizes remembered: far more frames than arrive between two collections of detections.
const std::size_t kFramesKept = 4096;

}  // namespace

double intersectionOverUnion(const EK::EKPixelRect& a, const EK::EKPixelRect& b) {
  if (a.w <= 0 || a.h <= 0 || b.w <= 0 || b.h <= 0) {
    return 0;
  }
  // In 64 bits: a module may hand out boxes at the ends of the int range.
  const auto overlapOf = [](long long start1, long long size1, long long start2, long long size2) {
    return std::max(0LL, std::min(start1 + size1, start2 + size2) - std::max(start1, start2));
  };
  const long long overlapW = overlapOf(a.x, a.w, b.x, b.w);
  const long long overlapH = overlapOf(a.y, a.h, b.y, b.h);
  const long long overlap = overlapW * overlapH;
  const long long either =
      static_cast<long long>(a.w) * a.h + static_cast<long long>(b.w) * b.h - overlap;
  return static_cast<double>(overlap) / static_cast<double>(either);
}

SceneScore::SceneScore(std::shared_ptr<const EK::EKSyntheticSource> scene)
    : scene_(std::move(scene)) {}

void SceneScore::noteFrame(const EK::EKValue& image) {
  const long long stamp = imageTimeStamp(image);
  std::lock_guard<std::mutex> lock(mutex_);
  sizes_[stamp] = {int(image[EK::kImageArrayWidth]), int(image[EK::kImageArrayHeight])};
  // Detections are collected within moments of their frames: old sizes can go.
  while (sizes_.size() > kFramesKept) {
    sizes_.erase(sizes_.begin());
  }
}

double SceneScore::add(const EK::EKDetection& detection) {
  std::lock_guard<std::mutex> lock(mutex_);
  double score = 0;
  const auto size = sizes_.find(detection.timeStamp);
  if (size != sizes_.end()) {
    const int width = size->second.first;
    const int height = size->second.second;
    EK::EKPixelRect drawn =
        EK::EKSyntheticSource::toPixels(scene_->objectAt(detection.timeStamp), width, height);
    const int left = std::max(drawn.x, 0);
    const int top = std::max(drawn.y, 0);
    drawn = {left, top, std::min(drawn.x + drawn.w, width) - left,
             std::min(drawn.y + drawn.h, height) - top};
    score = intersectionOverUnion(drawn, {detection.x, detection.y, detection.w, detection.h});
  }
  ++count_;
  sum_ += score;
  minimum_ = std::min(minimum_, score);
  return score;
}

std::size_t SceneScore::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

double SceneScore::mean() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_ == 0 ? 0 : sum_ / static_cast<double>(count_);
}

double SceneScore::minimum() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_ == 0 ? 0 : minimum_;
}

std::string sceneScoreLine(const SceneScore& score) {
  if (score.count() == 0) {
    return "scene IoU:   no detection to compare with the scene's rectangle\n";
  }
  char text[160];
  std::snprintf(text, sizeof text, "scene IoU:   mean %.3f, min %.3f over %zu detections\n",
                score.mean(), score.minimum(), score.count());
  return text;
}

}  // namespace ekhost
