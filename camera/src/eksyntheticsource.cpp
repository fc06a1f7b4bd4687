#include <ekvideodevice/eksyntheticsource.h>

#include <algorithm>
#include <cmath>

#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ru/os.h>

#include "cameradetail.h"

namespace EK {
namespace {

const double kPi = 3.14159265358979323846;
const double kPeriodXSeconds = 4.0;
const double kPeriodYSeconds = 3.0;
const double kObjectWidth = 0.2;
const double kObjectHeight = 0.25;

// Dark luma with a checker of 8-pixel cells and a fixed grain, so that the background has
// texture a detector must ignore.
unsigned char backgroundLuma(int x, int y) {
  const unsigned grain =
      (static_cast<unsigned>(x) * 2654435761u) ^ (static_cast<unsigned>(y) * 2246822519u);
  const int checker = ((x / 8 + y / 8) % 2) * 24;
  return static_cast<unsigned char>(16 + checker + static_cast<int>((grain >> 13) % 20));
}

void writePixel(unsigned char* pixel, unsigned char luma, int layers, bool yuv422) {
  pixel[0] = luma;
  for (int layer = 1; layer < layers; ++layer) {
    pixel[layer] = yuv422 ? cameradetail::kNeutralChroma : luma;
  }
}

}  // namespace

EKSyntheticSource::EKSyntheticSource(long long epoch)
    : epoch_(epoch >= 0 ? epoch : cameradetail::nowMicroseconds()) {}

EKSceneObject EKSyntheticSource::objectAt(long long timeStamp) const {
  const double seconds = static_cast<double>(timeStamp - epoch_) / 1e6;
  EKSceneObject object;
  object.centerX = 0.5 + 0.3 * std::sin(2.0 * kPi * seconds / kPeriodXSeconds);
  object.centerY = 0.5 + 0.25 * std::cos(2.0 * kPi * seconds / kPeriodYSeconds);
  object.width = kObjectWidth;
  object.height = kObjectHeight;
  return object;
}

EKPixelRect EKSyntheticSource::toPixels(const EKSceneObject& object, int width, int height) {
  EKPixelRect rect;
  rect.w = static_cast<int>(std::lround(object.width * width));
  rect.h = static_cast<int>(std::lround(object.height * height));
  rect.x = static_cast<int>(std::lround(object.centerX * width - rect.w / 2.0));
  rect.y = static_cast<int>(std::lround(object.centerY * height - rect.h / 2.0));
  return rect;
}

void EKSyntheticSource::paintBackground(unsigned char* pixels, int width, int height,
                                        int colorSpace, int layers) {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  if (cache_.width != width || cache_.height != height || cache_.colorSpace != colorSpace) {
    cache_.pixels.assign(static_cast<std::size_t>(width) * height * layers, 0);
    const bool yuv422 = colorSpace == kColorSpaceYUV422;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        writePixel(&cache_.pixels[(static_cast<std::size_t>(y) * width + x) * layers],
                   backgroundLuma(x, y), layers, yuv422);
      }
    }
    cache_.width = width;
    cache_.height = height;
    cache_.colorSpace = colorSpace;
  }
  std::copy(cache_.pixels.begin(), cache_.pixels.end(), pixels);
}

EKValue EKSyntheticSource::grab(const EKFrameRequest& request) {
  const int layers = getNumLayersInColorSpace(request.colorSpace);
  if (layers <= 0 || request.width <= 0 || request.height <= 0) {
    throw EKERROR("EKVideoDevice", "getImageRemote", "cannot render this picture format");
  }
  std::shared_ptr<unsigned char> buffer = takeFrameBuffer(
      static_cast<std::size_t>(request.width) * request.height * static_cast<std::size_t>(layers));
  unsigned char* pixels = buffer.get();
  paintBackground(pixels, request.width, request.height, request.colorSpace, layers);
  const EKPixelRect rect = toPixels(objectAt(request.timeStamp), request.width, request.height);
  const int left = std::max(rect.x, 0);
  const int right = std::min(rect.x + rect.w, request.width);
  const int top = std::max(rect.y, 0);
  const int bottom = std::min(rect.y + rect.h, request.height);
  const bool yuv422 = request.colorSpace == kColorSpaceYUV422;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      writePixel(&pixels[(static_cast<std::size_t>(y) * request.width + x) * layers], kObjectLuma,
                 layers, yuv422);
    }
  }
  return makeImageValue(request.width, request.height, request.colorSpace, request.timeStamp,
                        request.cameraId, std::move(buffer));
}

}  // namespace EK
