#include "detectionqueue.h"

namespace ekmotion {

void DetectionQueue::push(const EK::EKDetection& detection) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.size() == kCapacity) {
    pending_.pop_front();
  }
  pending_.push_back(detection);
}

EK::EKValue DetectionQueue::take() {
  std::deque<EK::EKDetection> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(pending_);
  }
  EK::EKValue list;
  list.arraySetSize(0);
  for (const EK::EKDetection& detection : taken) {
    list.arrayPush(detection.toEKValue());
  }
  return list;
}

}  // namespace ekmotion
