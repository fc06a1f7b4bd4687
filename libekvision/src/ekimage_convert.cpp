// Conversions between the camera's packed YUV422 and BGR or planar layouts. The pixel work is
// done by the kernels in convert/; this file checks the image, sizes buffers and handles the
// unpaired last pixel of an odd pixel count.
#include <ekvision/ekimage.h>

// Only the declaration of OpenCV's C image record is used: its fields are read, nothing of
// OpenCV is called or linked.
#include <opencv2/core/types_c.h>

#include "convert/ekconvert.h"
#include "imagebuffer.h"
#include "imagesize.h"
#include "logrecord.h"

namespace EK {
namespace {

const unsigned char kNeutralChroma = 128;

// The number of pixels of a YUV422 image whose buffer can be read whole, or -1 (with a log
// record) when the image cannot be unpacked.
long long unpackablePixels(const EKImage& image, const char* operation) {
  if (image.colorSpace != kColorSpaceYUV422) {
    detail::logRecord(2, detail::kImageCategory, operation, "Input image is not a YUV422 image.\n");
    return -1;
  }
  int bytes = 0;
  if (!detail::pictureByteCount(image.width, image.height, 2, bytes) ||
      (bytes > 0 && (image.frame == nullptr || image.allocatedSize < bytes))) {
    detail::logRecord(2, detail::kImageCategory, operation,
                      "Input image buffer is smaller than the image.\n");
    return -1;
  }
  return bytes / 2;
}

}  // namespace

void computeRgbFromYuv(unsigned char* y, unsigned char* u, unsigned char* v) {
  convert::yuvToRgbPixel(y, u, v);
}

bool EKImage::computeBGRimageFromYUV422(unsigned char* destination) {
  const long long pixels = unpackablePixels(*this, "computeBGRimageFromYUV422");
  if (pixels < 0) {
    return false;
  }
  const std::size_t pairs = static_cast<std::size_t>(pixels / 2);
  convert::yuv422ToBgr(frame, destination, pairs);
  if (pixels % 2 != 0) {
    // The unpaired last pixel has a Y and a U but no V of its own.
    unsigned char group[4] = {frame[4 * pairs], frame[4 * pairs + 1], frame[4 * pairs],
                              kNeutralChroma};
    unsigned char bgr[6];
    convert::yuv422ToBgr(group, bgr, 1);
    for (int i = 0; i < 3; ++i) {
      destination[6 * pairs + i] = bgr[i];
    }
  }
  return true;
}

bool EKImage::computeYYYYUUVVimageFromYUV422(unsigned char* destination) {
  const long long pixels = unpackablePixels(*this, "computeYYYYUUVVimageFromYUV422");
  if (pixels < 0) {
    return false;
  }
  const std::size_t pairs = static_cast<std::size_t>(pixels / 2);
  unsigned char* uPlane = destination + pixels;
  unsigned char* vPlane = uPlane + pixels / 2;
  convert::yuv422ToYYYYUUVV(frame, destination, uPlane, vPlane, pairs);
  if (pixels % 2 != 0) {
    // The chroma planes hold one byte a pair: there is no room for the last pixel's U.
    destination[pixels - 1] = frame[4 * pairs];
  }
  return true;
}

bool EKImage::computeYYYUUUVVVimageFromYUV422(unsigned char* destination) {
  const long long pixels = unpackablePixels(*this, "computeYYYUUUVVVimageFromYUV422");
  if (pixels < 0) {
    return false;
  }
  const std::size_t pairs = static_cast<std::size_t>(pixels / 2);
  unsigned char* uPlane = destination + pixels;
  unsigned char* vPlane = uPlane + pixels;
  convert::yuv422ToYYYUUUVVV(frame, destination, uPlane, vPlane, pairs);
  if (pixels % 2 != 0) {
    destination[pixels - 1] = frame[4 * pairs];
    uPlane[pixels - 1] = frame[4 * pairs + 1];
    vPlane[pixels - 1] = kNeutralChroma;
  }
  return true;
}

bool EKImage::computeYUV422imageFromBGR(int pictureHeight, int pictureWidth, char* bgr) {
  const char* operation = "computeYUV422imageFromBGR";
  int bytes = 0;
  if (!detail::pictureByteCount(pictureWidth, pictureHeight, 2, bytes)) {
    detail::logRecord(2, detail::kImageCategory, operation, "Invalid picture size.\n");
    return false;
  }
  if (bgr == nullptr && bytes > 0) {
    detail::logRecord(2, detail::kImageCategory, operation, "No BGR picture given.\n");
    return false;
  }
  // A buffer that cannot hold the picture is never written, whatever the header says.
  if (!detail::holdsPictureOfShape(*this, pictureWidth, pictureHeight, 2, bytes)) {
    if (externalBuffer) {
      detail::logRecord(2, detail::kImageCategory, operation, "External buffer not compatible.\n");
      return false;
    }
    detail::replaceOwnedBuffer(*this, pictureWidth, pictureHeight, 2, bytes);
  }
  const auto* pixels = reinterpret_cast<const unsigned char*>(bgr);
  const long long count = bytes / 2;
  const std::size_t pairs = static_cast<std::size_t>(count / 2);
  convert::bgrToYuv422(pixels, frame, pairs);
  if (count % 2 != 0) {
    // The unpaired last pixel gets its Y and U; the buffer has no room for a V.
    const unsigned char lone[6] = {
        pixels[6 * pairs], pixels[6 * pairs + 1], pixels[6 * pairs + 2], 0, 0, 0};
    unsigned char group[4];
    convert::bgrToYuv422(lone, group, 1);
    frame[4 * pairs] = group[0];
    frame[4 * pairs + 1] = group[1];
  }
  return true;
}

bool EKImage::computeYUV422imageFromBGR(_IplImage* image) {
  if (image == nullptr) {
    detail::logRecord(2, detail::kImageCategory, "computeYUV422imageFromBGR",
                      "No BGR picture given.\n");
    return false;
  }
  return computeYUV422imageFromBGR(image->height, image->width, image->imageData);
}

}  // namespace EK
