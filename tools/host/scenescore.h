// How well detections match the synthetic scene's rectangle.
#ifndef EKVISION_TOOLS_SCENESCORE_H
#define EKVISION_TOOLS_SCENESCORE_H

#include <ekvalue/ekvalue.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekdetection.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace ekhost {

/// Intersection over union of two rectangles: 0 when they do not overlap or one is empty.
double intersectionOverUnion(const EK::EKPixelRect& a, const EK::EKPixelRect& b);

/// @brief Scores each detection by its intersection over union (IoU) with the rectangle the
/// scene drew at the detection's time stamp, in the picture the module was given.
///
/// The rectangle is clipped to the picture, as the scene draws it. A detection of a frame
/// whose size is unknown (never seen by noteFrame(), or one of more than 4096 frames before
/// the last one seen) scores 0. Safe from any thread.
class SceneScore {
 public:
  explicit SceneScore(std::shared_ptr<const EK::EKSyntheticSource> scene);

  /// Notes the size and time stamp of an image array handed to the module.
  void noteFrame(const EK::EKValue& image);
  /// Scores @p detection; returns its IoU.
  double add(const EK::EKDetection& detection);

  /// Detections scored.
  std::size_t count() const;
  /// Mean IoU of the detections scored; 0 when none.
  double mean() const;
  /// Lowest IoU of a detection; 0 when none.
  double minimum() const;

 private:
  std::shared_ptr<const EK::EKSyntheticSource> scene_;
  mutable std::mutex mutex_;
  std::map<long long, std::pair<int, int>> sizes_;  // width, height by time stamp
  std::size_t count_ = 0;
  double sum_ = 0;
  double minimum_ = 1;
};

/// "scene IoU:   mean M, min N over K detections\n", or a line saying there were none.
std::string sceneScoreLine(const SceneScore& score);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_SCENESCORE_H
