// The detections a vision module keeps for its clients until they take them with the
// remote method "getDetections".
#ifndef EKVISION_MODULES_DETECTIONQUEUE_H
#define EKVISION_MODULES_DETECTIONQUEUE_H

#include <cstddef>
#include <deque>
#include <mutex>

#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>

namespace ekmotion {

/// @brief Detections waiting to be taken, oldest first; at most kCapacity, the oldest
/// dropped beyond that. Safe from any thread: the loop adds, remote methods take.
class DetectionQueue {
 public:
  /// Detections kept between two takes.
  static constexpr std::size_t kCapacity = 1024;

  /// Adds @p detection, dropping the oldest when the queue is full.
  void push(const EK::EKDetection& detection);
  /// Empties the queue: its detections as an array of detection arrays, oldest first.
  EK::EKValue take();

 private:
  std::mutex mutex_;
  std::deque<EK::EKDetection> pending_;
};

}  // namespace ekmotion

#endif  // EKVISION_MODULES_DETECTIONQUEUE_H
