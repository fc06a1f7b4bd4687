#include <ekvideodevice/ekscriptedsource.h>

#include <algorithm>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace {

std::size_t slot(EKCameraCall call) {
  return static_cast<std::size_t>(call);
}

// The pattern repeats every 251 bytes; a tile of 64 periods (16 KB) stays in the first-level
// cache, so painting a picture writes its bytes without reading as many.
constexpr std::size_t kPatternPeriod = 251;
constexpr std::size_t kTileBytes = 64 * kPatternPeriod;

const std::vector<unsigned char>& patternTile() {
  static const std::vector<unsigned char> tile = [] {
    std::vector<unsigned char> bytes(kTileBytes);
    for (std::size_t i = 0; i < kTileBytes; ++i) {
      bytes[i] = static_cast<unsigned char>(i % kPatternPeriod);
    }
    return bytes;
  }();
  return tile;
}

void paintPattern(unsigned char* pixels, std::size_t bytes) {
  const std::vector<unsigned char>& tile = patternTile();
  for (std::size_t at = 0; at < bytes; at += kTileBytes) {
    std::copy_n(tile.begin(), std::min(kTileBytes, bytes - at), pixels + at);
  }
}

}  // namespace

EKScriptedSource::EKScriptedSource() = default;

void EKScriptedSource::failNext(EKCameraCall call, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  failNext_[slot(call)] = times;
}

void EKScriptedSource::setFailing(EKCameraCall call, bool failing) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_[slot(call)] = failing;
}

void EKScriptedSource::deliverNonImages(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  nonImages_ = count;
}

int EKScriptedSource::getCallCount(EKCameraCall call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[slot(call)];
}

int EKScriptedSource::getImageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return images_;
}

void EKScriptedSource::checkCall(EKCameraCall call) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[slot(call)];
  bool fail = failing_[slot(call)];
  if (failNext_[slot(call)] > 0) {
    --failNext_[slot(call)];
    fail = true;
  }
  if (fail) {
    throw EKERROR("EKVideoDevice", toString(call), "scripted failure");
  }
}

EKValue EKScriptedSource::grab(const EKFrameRequest& request) {
  const int layers = getNumLayersInColorSpace(request.colorSpace);
  const std::size_t bytes = static_cast<std::size_t>(request.width) * request.height *
                            static_cast<std::size_t>(layers > 0 ? layers : 0);
  unsigned sequence = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (nonImages_ > 0) {
      --nonImages_;
      return EKValue(static_cast<int>(request.frameIndex));
    }
    sequence = static_cast<unsigned>(++images_);
  }
  std::shared_ptr<unsigned char> pixels = takeFrameBuffer(bytes);
  paintPattern(pixels.get(), bytes);
  for (std::size_t i = 0; i < 4 && i < bytes; ++i) {
    pixels.get()[i] = static_cast<unsigned char>(sequence >> (8 * i));
  }
  return makeImageValue(request.width, request.height, request.colorSpace, request.timeStamp,
                        request.cameraId, std::move(pixels));
}

unsigned EKScriptedSource::readSequenceNumber(const unsigned char* pixels) {
  return static_cast<unsigned>(pixels[0]) | static_cast<unsigned>(pixels[1]) << 8 |
         static_cast<unsigned>(pixels[2]) << 16 | static_cast<unsigned>(pixels[3]) << 24;
}

}  // namespace EK
