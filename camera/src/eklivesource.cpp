#include <ekvideodevice/eklivesource.h>

namespace EK {

EKLiveSource::~EKLiveSource() = default;

bool EKLiveSource::ends() const {
  return false;
}

void throwGrabFailure(const EKStatus& cause) {
  throw EKFailure("EKVideoDevice", "getImageRemote", cause, __FILE__, __LINE__);
}

void EKLiveFailures::fail(const EKStatus& cause) {
  if (!failing_) {
    failing_ = true;
    ++count_;
    last_ = cause;
  }
}

void EKLiveFailures::throwOnceTo(const std::string& subscriberId) {
  long long& told = told_[subscriberId];
  if (failing_ && told != count_) {
    told = count_;
    throwGrabFailure(last_);
  }
}

void EKLiveFailures::describe(EKLiveStatus& status) const {
  status.failures = count_;
  status.failing = failing_;
  status.lastFailure = last_.message();
}

}  // namespace EK
