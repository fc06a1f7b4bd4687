#include "motiondetection.h"

#include <gtest/gtest.h>

namespace {

using ekexample::Detection;
using ekexample::MotionDetector;

// A 64 x 48 YUV422 frame: dark background, a bright square at (x, y) of side 8.
void paint(EK::EKImage& image, int x, int y) {
  for (int row = 0; row < image.height; ++row) {
    for (int column = 0; column < image.width; ++column) {
      const bool inside = column >= x && column < x + 8 && row >= y && row < y + 8;
      unsigned char* pixel = image.frame + 2 * (row * image.width + column);
      pixel[0] = inside ? 220 : 30;
      pixel[1] = 128;
    }
  }
}

TEST(MotionDetection, BoxCoversWhereTheObjectWasAndIs) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  MotionDetector detector;
  paint(image, 10, 10);
  EXPECT_FALSE(detector.process(image).found) << "the first frame only primes";
  paint(image, 14, 12);
  image.timeStamp = 99;
  const Detection detection = detector.process(image);
  ASSERT_TRUE(detection.found);
  EXPECT_EQ(detection.timeStamp, 99);
  // Old and new squares overlap; the changed pixels span both minus the common part.
  EXPECT_EQ(detection.box.x, 10);
  EXPECT_EQ(detection.box.y, 10);
  EXPECT_EQ(detection.box.w, 12);
  EXPECT_EQ(detection.box.h, 10);
  EXPECT_FALSE(detector.process(image).found) << "nothing moved";
}

TEST(MotionDetection, AnglesAreInterpolatedFromTheImageEdges) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  const EK::EKImage::ROI whole = ekexample::angularBox(image, 0, 0, 64, 48);
  EXPECT_FLOAT_EQ(whole.leftAngle, 0.4f);
  EXPECT_FLOAT_EQ(whole.rightAngle, -0.4f);
  EXPECT_FLOAT_EQ(whole.topAngle, 0.3f);
  EXPECT_FLOAT_EQ(whole.bottomAngle, -0.3f);
  const EK::EKImage::ROI rightHalf = ekexample::angularBox(image, 32, 24, 32, 24);
  EXPECT_NEAR(rightHalf.leftAngle, 0.0f, 1e-6);
  EXPECT_NEAR(rightHalf.topAngle, 0.0f, 1e-6);
}

TEST(MotionDetection, NoiseBelowTheMinimumAndOtherFormatsAreIgnored) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
  MotionDetector detector(40, 16);
  paint(image, 0, 0);
  detector.process(image);
  image.frame[2 * (20 * 64 + 20)] = 255;  // one changed pixel
  EXPECT_FALSE(detector.process(image).found);
  EK::EKImage grey(64, 48, 0);
  EXPECT_FALSE(detector.process(grey).found);
  EK::EKImage resized(32, 24, EK::kColorSpaceYUV422);
  EXPECT_FALSE(detector.process(resized).found) << "a new size primes again";
}

}  // namespace
