#include <ekvideodevice/ekframesource.h>

#include <algorithm>

#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace {

// Field of view of the stand-in camera, in radians: positive to the left and top.
const float kLeftAngle = 0.41692221f;
const float kTopAngle = 0.32097778f;

}  // namespace

const char* toString(EKCameraCall call) {
  switch (call) {
    case EKCameraCall::kSubscribe:
      return "subscribe";
    case EKCameraCall::kUnsubscribe:
      return "unsubscribe";
    case EKCameraCall::kGetImage:
      return "getImageRemote";
    case EKCameraCall::kReleaseImage:
      return "releaseImage";
    case EKCameraCall::kSetParameter:
      return "setParameter";
    case EKCameraCall::kGetParameter:
      return "getParameter";
  }
  return "unknown";
}

EKFrameSource::~EKFrameSource() = default;

void EKFrameSource::checkCall(EKCameraCall /*call*/) {}

EKValue makeImageValue(int width, int height, int colorSpace, long long timeStamp, int cameraId,
                       std::vector<unsigned char>&& pixels) {
  return makeImageArray(width, height, colorSpace, timeStamp, cameraId, kLeftAngle, kTopAngle,
                        -kLeftAngle, -kTopAngle, std::move(pixels));
}

EKValue makeImageValue(int width, int height, int colorSpace, long long timeStamp, int cameraId,
                       std::shared_ptr<unsigned char> pixels) {
  // A size that does not fit is refused by the array's header check before the count is used.
  const long long bytes =
      static_cast<long long>(width) * height * getNumLayersInColorSpace(colorSpace);
  return makeImageArray(width, height, colorSpace, timeStamp, cameraId, kLeftAngle, kTopAngle,
                        -kLeftAngle, -kTopAngle, std::move(pixels),
                        static_cast<int>(std::clamp(bytes, 0LL, 0x7fffffffLL)));
}

}  // namespace EK
