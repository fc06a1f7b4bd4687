#include "viewerframe.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekframewire.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

#include <cstring>

#include "detectionlog.h"
#include "host.h"
#include "picture.h"
#include "textio.h"

namespace ekviewer {
namespace {

// A grey picture as packed YUV422 with neutral chroma, for the JPEG encoder.
std::vector<std::uint8_t> greyAsYuv422(const Picture& picture) {
  std::vector<std::uint8_t> packed(picture.pixels.size() * 2);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    packed[2 * i] = picture.pixels[i];
    packed[2 * i + 1] = 128;
  }
  return packed;
}

}  // namespace

Picture copyPicture(const EK::EKImage& image) {
  const std::size_t bytes = ekhost::requireViewable(image);
  Picture picture;
  picture.width = image.width;
  picture.height = image.height;
  picture.grey = image.colorSpace != EK::kColorSpaceYUV422;
  picture.timeStamp = image.timeStamp;
  picture.camera = static_cast<unsigned char>(image.cameraId);
  picture.angles[0] = image.leftAngle;
  picture.angles[1] = image.topAngle;
  picture.angles[2] = image.rightAngle;
  picture.angles[3] = image.bottomAngle;
  picture.pixels.assign(image.frame, image.frame + bytes);
  return picture;
}

Picture copyPicture(const EK::EKValue& image) {
  std::unique_ptr<EK::EKImage> wrapped;
  try {
    wrapped.reset(EK::EKImage::fromEKValue(image));
  } catch (const std::exception& error) {
    ekhost::fail(EK::EKCause::kBadFormat,
                 std::string("the frame holds no picture: ") + error.what());
  }
  if (!wrapped) {
    ekhost::fail(EK::EKCause::kBadFormat, "the frame holds no picture");
  }
  Picture picture = copyPicture(*wrapped);
  // The image leaves the camera element to the array; the page shows it.
  picture.camera = static_cast<int>(image[EK::kImageArrayCamera]);
  return picture;
}

std::string frameBody(const Picture& picture, long long index,
                      const std::vector<EK::EKDetection>& detections,
                      const std::string& extraJson) {
  if (picture.width % 2 != 0) {
    // The encoder takes pixels in pairs.
    ekhost::fail(EK::EKCause::kUnsupported,
                 "a picture " + std::to_string(picture.width) + " pixels wide cannot be shown");
  }
  std::vector<std::uint8_t> packed;
  const std::uint8_t* yuv = picture.pixels.data();
  if (picture.grey) {
    packed = greyAsYuv422(picture);
    yuv = packed.data();
  }
  EK::EKEncodedFrame jpeg;
  try {
    jpeg = EK::compressJpeg(picture.width, picture.height, yuv, kViewerJpegQuality);
  } catch (const EK::EKFailure& failure) {
    throw ekhost::HostError(failure.status());
  }
  std::string json = "{\"index\":" + std::to_string(index) +
                     ",\"timeStamp\":" + std::to_string(picture.timeStamp) +
                     ",\"camera\":" + std::to_string(picture.camera) + ",\"angles\":[";
  for (int i = 0; i < 4; ++i) {
    json += (i ? "," : "") + ekhost::jsonNumber(picture.angles[i]);
  }
  json += "],\"width\":" + std::to_string(picture.width) +
          ",\"height\":" + std::to_string(picture.height) + ",\"detections\":[";
  for (std::size_t i = 0; i < detections.size(); ++i) {
    json += (i ? "," : "") + ekhost::detectionJson(detections[i]);
  }
  json += "]";
  if (!extraJson.empty()) {
    json += "," + extraJson;
  }
  json += "}";
  std::string body(4, '\0');
  const auto length = static_cast<std::uint32_t>(json.size());
  for (int i = 0; i < 4; ++i) {
    body[static_cast<std::size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xff);
  }
  body += json;
  body.append(reinterpret_cast<const char*>(jpeg.payload), jpeg.payloadSize);
  return body;
}

}  // namespace ekviewer
