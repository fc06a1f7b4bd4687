#include "observedsource.h"

#include <utility>

#include <ekvision/ekimagevalue.h>

namespace ekhost {

long long imageTimeStamp(const EK::EKValue& image) {
  return EK::imageArrayTimeStamp(image);
}

ObservedSource::ObservedSource(std::shared_ptr<EK::EKFrameSource> inner)
    : inner_(std::move(inner)) {}

void ObservedSource::addObserver(Observer observer) {
  observers_.push_back(std::move(observer));
}

void ObservedSource::checkCall(EK::EKCameraCall call) {
  inner_->checkCall(call);
  if (call == EK::EKCameraCall::kReleaseImage) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++released_;
      framesDone_ = timings_.size();
    }
    fetched_.notify_all();
  }
}

EK::EKValue ObservedSource::grab(const EK::EKFrameRequest& request) {
  const auto fetched = std::chrono::steady_clock::now();
  EK::EKValue image = inner_->grab(request);
  for (const Observer& observer : observers_) {
    observer(image);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A live camera stamps its frames itself; the request's stamp is the camera module's.
    const bool stamped =
        image.isArray() && image.getSize() > static_cast<unsigned int>(EK::kImageArrayMicroseconds);
    timings_.push_back({fetched, stamped ? imageTimeStamp(image) : request.timeStamp});
  }
  fetched_.notify_all();
  return image;
}

std::size_t ObservedSource::waitForFrames(std::size_t count,
                                          std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  fetched_.wait_until(lock, deadline, [&] { return timings_.size() >= count; });
  return timings_.size();
}

std::size_t ObservedSource::waitForRelease(std::size_t released,
                                           std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  fetched_.wait_until(lock, deadline, [&] { return released_ > released; });
  return released_;
}

std::size_t ObservedSource::framesDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return framesDone_;
}

std::vector<FrameTiming> ObservedSource::timings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timings_;
}

}  // namespace ekhost
