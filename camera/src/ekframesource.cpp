#include <ekvideodevice/ekframesource.h>

#include <ekvision/ekimage.h>

namespace EK {
namespace {

// Position of the pixel block in the image array.
const int kPixelElement = 6;

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
  // An image without buffer gives the header elements and an empty block; the block is then
  // replaced by the pixels, moved rather than copied.
  EKImage header(width, height, colorSpace, true, kLeftAngle, kTopAngle, -kLeftAngle, -kTopAngle);
  header.timeStamp = timeStamp;
  header.cameraId = static_cast<char>(cameraId);
  EKValue value = header.toEKValue();
  value[kPixelElement].SetBinary(std::move(pixels));
  return value;
}

}  // namespace EK
