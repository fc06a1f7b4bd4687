// The image record: construction, the buffer policy and the text dump.
#include <ekvision/ekimage.h>

#include <climits>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "imagesize.h"

namespace EK {

EKImage::ROI::ROI(int x, int y, int w, int h) : ROI(x, y, w, h, 0.0f, 0.0f, 0.0f, 0.0f) {}

EKImage::ROI::ROI(int x, int y, int w, int h, float leftAngle, float topAngle, float rightAngle,
                  float bottomAngle)
    : x(x),
      y(y),
      w(w),
      h(h),
      leftAngle(leftAngle),
      topAngle(topAngle),
      rightAngle(rightAngle),
      bottomAngle(bottomAngle) {}

EKImage::EKImage(int width, int height, int colorSpace, bool externalBuffer, float leftAngle,
                 float topAngle, float rightAngle, float bottomAngle)
    : width(width),
      height(height),
      nbLayers(0),
      colorSpace(colorSpace),
      timeStamp(-1),
      frame(nullptr),
      cameraId(0),
      allocatedSize(0),
      allocatedResolution(-1),
      allocatedNbLayers(0),
      externalBuffer(externalBuffer),
      leftAngle(leftAngle),
      topAngle(topAngle),
      rightAngle(rightAngle),
      bottomAngle(bottomAngle),
      regionFlag(false) {
  if (!isColorSpaceValid(colorSpace)) {
    throw std::invalid_argument("EKImage: invalid colorspace");
  }
  nbLayers = allocatedNbLayers = getNumLayersInColorSpace(colorSpace);
  if (width < 0 || height < 0) {
    throw std::invalid_argument("EKImage: invalid size");
  }
  int size = 0;
  if (!detail::pictureByteCount(width, height, nbLayers, size)) {
    throw std::invalid_argument("EKImage: image too large");
  }
  allocatedSize = size;
  if (!externalBuffer) {
    frame = new unsigned char[static_cast<std::size_t>(size)]();
  }
  allocatedResolution = getResolutionFromSize(width, height);
}

namespace {

// The width of a resolution code for the resolution constructor, which checks the color
// space first: with both codes invalid, the color space is what is reported.
int widthForConstructor(int resolution, int colorSpace) {
  if (!isColorSpaceValid(colorSpace)) {
    throw std::invalid_argument("EKImage: invalid colorspace");
  }
  if (!isResolutionValid(resolution)) {
    throw std::invalid_argument("EKImage: invalid resolution");
  }
  int width = 0;
  int height = 0;
  setSizeFromResolution(resolution, width, height);
  return width;
}

int heightOf(int resolution) {
  int width = 0;
  int height = 0;
  setSizeFromResolution(resolution, width, height);
  return height;
}

}  // namespace

// Every resolution code has a size, and that size maps back to the code, so the size
// constructor sets `allocatedResolution` to the code itself.
EKImage::EKImage(int resolution, int colorSpace, bool externalBuffer, float leftAngle,
                 float topAngle, float rightAngle, float bottomAngle)
    : EKImage(widthForConstructor(resolution, colorSpace), heightOf(resolution), colorSpace,
              externalBuffer, leftAngle, topAngle, rightAngle, bottomAngle) {}

EKImage::~EKImage() {
  if (frame != nullptr && !externalBuffer) {
    delete[] frame;
  }
}

bool EKImage::reallocateDataSize(int resolution, int nbLayers) {
  int codeWidth = 0;
  int codeHeight = 0;
  setSizeFromResolution(resolution, codeWidth, codeHeight);
  if (codeWidth < 0) {
    throw std::invalid_argument("EKImage: reallocateDataSize: Weird resolution #" +
                                std::to_string(resolution));
  }
  int size = 0;
  if (nbLayers < 0 || !detail::pictureByteCount(codeWidth, codeHeight, nbLayers, size)) {
    throw std::invalid_argument("EKImage: image too large");
  }
  if (size == allocatedSize) {
    return frame != nullptr;
  }
  if (!externalBuffer) {
    // Allocate before releasing, so that a failed allocation leaves the image as it was.
    unsigned char* replacement = new unsigned char[static_cast<std::size_t>(size)];
    delete[] frame;
    frame = replacement;
  }
  allocatedSize = size;
  if (frame != nullptr) {
    allocatedResolution = resolution;
    allocatedNbLayers = nbLayers;
  }
  return frame != nullptr;
}

bool EKImage::setResolution(int resolution) {
  if (!isResolutionValid(resolution)) {
    throw std::invalid_argument("EKImage: invalid resolution");
  }
  if (resolution > allocatedResolution && !reallocateDataSize(resolution, allocatedNbLayers)) {
    return false;
  }
  setSizeFromResolution(resolution, width, height);
  return true;
}

bool EKImage::setColorSpace(int newColorSpace) {
  if (newColorSpace == colorSpace) {
    return true;
  }
  if (!isColorSpaceValid(newColorSpace)) {
    throw std::invalid_argument("EKImage: setColorSpace: invalid color space");
  }
  colorSpace = newColorSpace;
  nbLayers = getNumLayersInColorSpace(newColorSpace);
  if (nbLayers > allocatedNbLayers) {
    return reallocateDataSize(allocatedResolution, nbLayers);
  }
  return true;
}

std::string EKImage::toString() const {
  std::ostringstream out;
  out << "this          : " << static_cast<const void*>(this) << '\n'
      << "Width         : " << width << '\n'
      << "Height        : " << height << '\n'
      << "NbLayers      : " << nbLayers << '\n'
      << "ColorSpace    : " << colorSpace << '\n'
      << "TimeStamp     : " << timeStamp << '\n'
      << "CameraID      : " << static_cast<int>(cameraId) << '\n'
      << "Left angle    : " << leftAngle << '\n'
      << "Top angle     : " << topAngle << '\n'
      << "Right angle   : " << rightAngle << '\n'
      << "Bottom angle  : " << bottomAngle << '\n'
      << "Frame         : " << static_cast<const void*>(frame) << '\n'
      << "FirstPixel    : ";
  if (frame == nullptr) {
    out << "(no buffer)";
  } else {
    // Only whole words that lie inside the buffer are shown.
    const int words = allocatedSize < 16 ? (allocatedSize > 0 ? allocatedSize / 4 : 0) : 4;
    out << std::hex;
    for (int i = 0; i < words; ++i) {
      std::uint32_t word = 0;
      std::memcpy(&word, frame + 4 * i, sizeof word);
      out << (i == 0 ? "" : " ") << word;
    }
    out << std::dec;
  }
  out << '\n' << "AllocatedSize : " << allocatedSize;
  return out.str();
}

}  // namespace EK
