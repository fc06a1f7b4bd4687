#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace {

const int kLayersOfColorSpace[kColorSpaceCount] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2,
                                                   3, 3, 3, 3, 2, 3, 3, 2, 4};

}  // namespace

bool isResolutionValid(int resolution) {
  // One unsigned comparison rejects negative codes as well.
  return static_cast<unsigned int>(resolution) <= static_cast<unsigned int>(kResolution1280x960);
}

void setSizeFromResolution(int resolution, int& width, int& height) {
  switch (resolution) {
    case kResolution160x120:
      width = 160;
      height = 120;
      break;
    case kResolution320x240:
      width = 320;
      height = 240;
      break;
    case kResolution640x480:
      width = 640;
      height = 480;
      break;
    case kResolution1280x960:
      width = 1280;
      height = 960;
      break;
    default:
      width = -1;
      height = -1;
      break;
  }
}

int getResolutionFromSize(int width, int height) {
  switch (height) {
    case 960:
      return width == 1280 ? kResolution1280x960 : -1;
    case 480:
      return width == 640 ? kResolution640x480 : -1;
    case 240:
      return width == 320 ? kResolution320x240 : -1;
    case 120:
      return width == 160 ? kResolution160x120 : -1;
    default:
      return -1;
  }
}

bool isColorSpaceValid(int colorSpace) {
  return static_cast<unsigned int>(colorSpace) < static_cast<unsigned int>(kColorSpaceCount);
}

int getNumLayersInColorSpace(int colorSpace) {
  return isColorSpaceValid(colorSpace) ? kLayersOfColorSpace[colorSpace] : -1;
}

}  // namespace EK
