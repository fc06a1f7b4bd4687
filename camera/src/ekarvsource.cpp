#include <ekvideodevice/ekarvsource.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvisiondefinitions.h>

#include "cameradetail.h"

namespace EK {

EKArvSource::EKArvSource(const std::string& path) : frame_(kResolution160x120, 0) {
  // The inspection names the cause of an unreadable file and counts the frames that lie
  // whole in it (an unclosed recording's count says nothing).
  const EKVideoInspection file = inspectVideo(path);
  video_.readVideo(path);
  const streamProperties& stream = video_.streams[0];
  // readVideo() refused what it cannot play; frames are also pictures here.
  if (const char* reason = unplayableReason(file.streams[0].header, EKStreamUse::kPictures)) {
    throw EKERROR(
        "EKArvSource", "EKArvSource",
        path + ": stream 0 has " + std::to_string(stream.depth) + "-bit samples; " + reason);
  }
  frameCount_ = static_cast<unsigned int>(file.playableFrames);
  if (frameCount_ == 0) {
    throw EKERROR("EKArvSource", "EKArvSource", path + " holds no complete frame");
  }
  width_ = static_cast<int>(stream.width);
  height_ = static_cast<int>(stream.height);
  colorSpace_ = static_cast<int>(stream.colorSpace);
}

EKArvSource::~EKArvSource() = default;

void EKArvSource::concealRecordHeader(EKImage& image) {
  const int group = image.colorSpace == kColorSpaceYUV422 ? 4 : std::max(1, image.nbLayers);
  const int firstStored = (kVideoRecordHeaderSize + group - 1) / group * group;
  if (image.frame == nullptr || image.allocatedSize < firstStored + group) {
    return;
  }
  for (int offset = 0; offset < firstStored; offset += group) {
    std::memcpy(image.frame + offset, image.frame + firstStored, static_cast<std::size_t>(group));
  }
}

EKValue EKArvSource::grab(const EKFrameRequest& request) {
  const int layers = getNumLayersInColorSpace(request.colorSpace);
  const bool sameSpace = request.colorSpace == colorSpace_;
  const bool lumaKnown =
      colorSpace_ == kColorSpaceYUV422 || getNumLayersInColorSpace(colorSpace_) == 1;
  if (layers <= 0 || (!sameSpace && !lumaKnown)) {
    throw EKERROR("EKVideoDevice", "getImageRemote",
                  "cannot make color space " + std::to_string(request.colorSpace) +
                      " from a recording of color space " + std::to_string(colorSpace_));
  }
  const long long count = frameCount_;
  const long long index = ((request.frameIndex % count) + count) % count;
  const std::size_t pixelCount = static_cast<std::size_t>(width_) * height_;
  const std::size_t byteCount = pixelCount * static_cast<std::size_t>(layers);
  std::shared_ptr<unsigned char> buffer = takeFrameBuffer(byteCount);
  unsigned char* pixels = buffer.get();
  float angles[4];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!video_.getFrame(frame_, static_cast<unsigned int>(index), 0, true)) {
      throw EKERROR("EKVideoDevice", "getImageRemote",
                    "cannot read frame " + std::to_string(index) + " of " + video_.filePath);
    }
    concealRecordHeader(frame_);
    angles[0] = frame_.leftAngle;
    angles[1] = frame_.topAngle;
    angles[2] = frame_.rightAngle;
    angles[3] = frame_.bottomAngle;
    const unsigned char* recorded = frame_.frame;
    if (sameSpace) {
      std::memcpy(pixels, recorded, byteCount);
    } else {
      const std::size_t lumaStep = colorSpace_ == kColorSpaceYUV422 ? 2 : 1;
      const bool toYuv422 = request.colorSpace == kColorSpaceYUV422;
      for (std::size_t i = 0; i < pixelCount; ++i) {
        unsigned char* pixel = &pixels[i * static_cast<std::size_t>(layers)];
        pixel[0] = recorded[i * lumaStep];
        for (int layer = 1; layer < layers; ++layer) {
          pixel[layer] = toYuv422 ? cameradetail::kNeutralChroma : pixel[0];
        }
      }
    }
  }
  return makeImageArray(width_, height_, request.colorSpace, request.timeStamp, request.cameraId,
                        angles[0], angles[1], angles[2], angles[3], std::move(buffer),
                        static_cast<int>(byteCount));
}

}  // namespace EK
