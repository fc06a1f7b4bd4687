// Internal: what the camera module's sources and the device share.
#ifndef EKVIDEODEVICE_SRC_CAMERADETAIL_H
#define EKVIDEODEVICE_SRC_CAMERADETAIL_H

#include <ru/os.h>

namespace EK {
namespace cameradetail {

/// The chroma of a grey pixel: what a YUV422 frame made from luma alone carries.
constexpr unsigned char kNeutralChroma = 128;

/// The wall clock in microseconds since the epoch, the unit of every frame time stamp.
inline long long nowMicroseconds() {
  ru::os::timeval clock;
  ru::os::gettimeofday(&clock);
  return clock.tv_sec * 1000000LL + clock.tv_usec;
}

}  // namespace cameradetail
}  // namespace EK

#endif  // EKVIDEODEVICE_SRC_CAMERADETAIL_H
