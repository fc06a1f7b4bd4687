#include <ekvision/ekvisiondefinitions.h>

#include <gtest/gtest.h>

namespace {

TEST(ResolutionCodes, OnlyZeroToThreeAreValid) {
  EXPECT_TRUE(EK::isResolutionValid(0));
  EXPECT_TRUE(EK::isResolutionValid(3));
  EXPECT_FALSE(EK::isResolutionValid(-1));
  EXPECT_FALSE(EK::isResolutionValid(4));
  EXPECT_FALSE(EK::isResolutionValid(-2147483647 - 1));
}

TEST(ResolutionCodes, SizesTranslateBothWays) {
  const int expected[4][2] = {{160, 120}, {320, 240}, {640, 480}, {1280, 960}};
  for (int code = 0; code < 4; ++code) {
    int width = 0;
    int height = 0;
    EK::setSizeFromResolution(code, width, height);
    EXPECT_EQ(width, expected[code][0]);
    EXPECT_EQ(height, expected[code][1]);
    EXPECT_EQ(EK::getResolutionFromSize(width, height), code);
  }
  EXPECT_EQ(EK::kResolution640x480, 2);
}

TEST(ResolutionCodes, UnknownCodesAndSizesGiveMinusOne) {
  int width = 0;
  int height = 0;
  EK::setSizeFromResolution(7, width, height);
  EXPECT_EQ(width, -1);
  EXPECT_EQ(height, -1);
  width = height = 0;
  EK::setSizeFromResolution(-2, width, height);
  EXPECT_EQ(width, -1);
  EXPECT_EQ(height, -1);
  EXPECT_EQ(EK::getResolutionFromSize(480, 640), -1);
  EXPECT_EQ(EK::getResolutionFromSize(640, 240), -1);
  EXPECT_EQ(EK::getResolutionFromSize(0, 0), -1);
}

TEST(ColorSpaceCodes, LayerCountsOfEveryCode) {
  const int layers[19] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3, 3, 2, 3, 3, 2, 4};
  for (int code = 0; code < 19; ++code) {
    EXPECT_TRUE(EK::isColorSpaceValid(code));
    EXPECT_EQ(EK::getNumLayersInColorSpace(code), layers[code]) << "code " << code;
  }
  EXPECT_EQ(EK::getNumLayersInColorSpace(EK::kColorSpaceYUV422), 2);
  EXPECT_FALSE(EK::isColorSpaceValid(19));
  EXPECT_FALSE(EK::isColorSpaceValid(-1));
  EXPECT_EQ(EK::getNumLayersInColorSpace(19), -1);
  EXPECT_EQ(EK::getNumLayersInColorSpace(-5), -1);
}

}  // namespace
