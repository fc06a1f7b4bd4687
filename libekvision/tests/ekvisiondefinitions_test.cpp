#include <ekvision/ekvisiondefinitions.h>

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ResolutionCodes, SizesTranslateBothWaysAndUnknownOnesGiveMinusOne) {
  const int sizes[4][2] = {{160, 120}, {320, 240}, {640, 480}, {1280, 960}};
  for (int code = -2; code <= 4; ++code) {
    SCOPED_TRACE(code);
    const bool valid = code >= 0 && code < 4;
    EXPECT_EQ(EK::isResolutionValid(code), valid);
    int width = 0, height = 0;
    EK::setSizeFromResolution(code, width, height);
    EXPECT_EQ(width, valid ? sizes[code][0] : -1);
    EXPECT_EQ(height, valid ? sizes[code][1] : -1);
    EXPECT_EQ(EK::getResolutionFromSize(width, height), valid ? code : -1);
  }
  EXPECT_FALSE(EK::isResolutionValid(INT_MIN));
  EXPECT_EQ(EK::getResolutionFromSize(480, 640), -1);
  EXPECT_EQ(EK::getResolutionFromSize(640, 240), -1);
  EXPECT_EQ(EK::getResolutionFromSize(0, 0), -1);
}

TEST(ColorSpaceCodes, LayerCountsOfEveryCode) {
  const int layers[19] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3, 3, 2, 3, 3, 2, 4};
  for (int code = -5; code <= 19; ++code) {
    const bool valid = code >= 0 && code < 19;
    EXPECT_EQ(EK::isColorSpaceValid(code), valid) << code;
    EXPECT_EQ(EK::getNumLayersInColorSpace(code), valid ? layers[code] : -1) << code;
  }
}

}  // namespace
