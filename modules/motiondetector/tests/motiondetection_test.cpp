#include "motiondetection.h"

#include <gtest/gtest.h>

namespace {

using ekexample::Detection;
using ekexample::MotionDetector;

struct Square {
  int x, y, side;
};

// A 64 x 48 YUV422 frame: dark background, bright squares.
void paint(EK::EKImage& image, std::initializer_list<Square> squares) {
  for (int row = 0; row < image.height; ++row) {
    for (int column = 0; column < image.width; ++column) {
      bool inside = false;
      for (const Square& s : squares) {
        inside =
            inside || (column >= s.x && column < s.x + s.side && row >= s.y && row < s.y + s.side);
      }
      unsigned char* pixel = image.frame + 2 * (row * image.width + column);
      pixel[0] = inside ? 220 : 30;
      pixel[1] = 128;
    }
  }
}

void paint(EK::EKImage& image, int x, int y) {
  paint(image, {{x, y, 8}});
}

void expectBox(const ekexample::MovingObject& object, int x, int y, int w, int h, int pixels) {
  EXPECT_EQ(object.box.x, x);
  EXPECT_EQ(object.box.y, y);
  EXPECT_EQ(object.box.w, w);
  EXPECT_EQ(object.box.h, h);
  EXPECT_EQ(object.changedPixels, pixels);
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
  // Old and new squares overlap; the changed pixels span both minus the common part, and
  // the region left and the region entered touch at the corners: one object.
  ASSERT_EQ(detection.objects.size(), 1u);
  expectBox(detection.objects[0], 10, 10, 12, 10, 2 * (64 - 4 * 6));
  EXPECT_FALSE(detector.process(image).found) << "nothing moved";
}

TEST(MotionDetection, EachObjectGetsItsOwnBoxAndTinyOnesAreDropped) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  MotionDetector detector;
  MotionDetector largestOnly(40, MotionDetector::kDefaultMinimumPixels, 1);
  paint(image, {{2, 2, 8}, {52, 36, 10}});
  detector.process(image);
  largestOnly.process(image);
  // The first square moves by (3, 2); the second by (2, 2) into the bottom-right corner; a
  // 3 x 3 speck (9 pixels, under the 16 of kDefaultMinimumPixels) appears.
  paint(image, {{5, 4, 8}, {54, 38, 10}, {30, 5, 3}});
  const Detection detection = detector.process(image);
  EXPECT_EQ(detection.changedPixels, 68 + 72 + 9);
  ASSERT_EQ(detection.objects.size(), 2u);
  expectBox(detection.objects[0], 52, 36, 12, 12, 72);  // the larger first
  expectBox(detection.objects[1], 2, 2, 11, 10, 68);
  EXPECT_FLOAT_EQ(detection.objects[0].box.rightAngle, -0.4f) << "touches the right edge";
  EXPECT_FLOAT_EQ(detection.objects[0].box.bottomAngle, -0.3f) << "touches the bottom edge";
  const Detection one = largestOnly.process(image);
  ASSERT_EQ(one.objects.size(), 1u);
  expectBox(one.objects[0], 52, 36, 12, 12, 72);

  // Objects that touch the left and top edges, and the whole picture changing at once.
  // A move along a column leaves the row it left and the row it entered apart: one object.
  paint(image, {{0, 0, 6}});
  detector.process(image);
  paint(image, {{0, 1, 6}});
  const Detection corner = detector.process(image);
  ASSERT_EQ(corner.objects.size(), 0u) << "two rows of six pixels are under the minimum";
  MotionDetector fine(40, 4);
  fine.process(image);
  paint(image, {{0, 0, 6}});
  const Detection back = fine.process(image);
  ASSERT_EQ(back.objects.size(), 1u);
  expectBox(back.objects[0], 0, 0, 6, 7, 12);
  paint(image, {{0, 0, 6}, {20, 0, 6}});
  fine.process(image);
  paint(image, {{3, 0, 6}, {20, 0, 6}});
  const Detection along = fine.process(image);
  ASSERT_EQ(along.objects.size(), 1u) << "a move along a row";
  expectBox(along.objects[0], 0, 0, 9, 6, 36);
  for (unsigned char* y = image.frame; y < image.frame + 64 * 48 * 2; y += 2) {
    *y = 250;
  }
  const Detection flash = fine.process(image);
  ASSERT_EQ(flash.objects.size(), 1u);
  expectBox(flash.objects[0], 0, 0, 64, 48, 64 * 48 - 2 * 36);
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
