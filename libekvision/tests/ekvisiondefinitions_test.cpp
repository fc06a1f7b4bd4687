#include <ekvision/ekvisiondefinitions.h>

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(VisionCodes, ResolutionsTranslateBothWaysAndColorSpacesHaveTheirLayerCounts) {
  const int sizes[4][2] = {{160, 120}, {320, 240}, {640, 480}, {1280, 960}};
  for (int code = -1; code <= 4; ++code) {
    const bool valid = code >= 0 && code < 4;
    int width = 0, height = 0;
    EK::setSizeFromResolution(code, width, height);
    EXPECT_EQ(std::make_tuple(EK::isResolutionValid(code), width, height,
                              EK::getResolutionFromSize(width, height)),
              std::make_tuple(valid, valid ? sizes[code][0] : -1, valid ? sizes[code][1] : -1,
                              valid ? code : -1))
        << code;
  }
  EXPECT_EQ(EK::getResolutionFromSize(640, 240), -1);
  const int layers[19] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3, 3, 2, 3, 3, 2, 4};
  for (int code = -1; code <= 19; ++code) {
    const bool valid = code >= 0 && code < 19;
    EXPECT_EQ(std::make_pair(EK::isColorSpaceValid(code), EK::getNumLayersInColorSpace(code)),
              std::make_pair(valid, valid ? layers[code] : -1))
        << code;
  }
}

}  // namespace
