#include "thinning.h"

namespace ekhost {

FrameThinner::FrameThinner(int framesPerSecond)
    : period_(framesPerSecond > 0 ? 1000000LL / framesPerSecond : 0) {}

bool FrameThinner::keep(long long timeStamp) {
  if (period_ == 0) {
    return true;
  }
  if (started_ && timeStamp + period_ / 4 < next_) {
    return false;
  }
  next_ = !started_ || timeStamp > next_ + period_ ? timeStamp + period_ : next_ + period_;
  started_ = true;
  return true;
}

}  // namespace ekhost
