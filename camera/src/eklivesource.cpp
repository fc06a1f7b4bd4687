#include <ekvideodevice/eklivesource.h>

namespace EK {

EKLiveSource::~EKLiveSource() = default;

bool EKLiveSource::ends() const {
  return false;
}

}  // namespace EK
