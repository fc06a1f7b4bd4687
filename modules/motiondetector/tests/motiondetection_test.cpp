// The detection step: one box per moving object, spanning where it was and where it is.
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
  for (int i = 0; i < image.width * image.height; ++i) {
    const int y = i / image.width, x = i % image.width;
    bool inside = false;
    for (const Square& s : squares) {
      inside |= x >= s.x && x < s.x + s.side && y >= s.y && y < s.y + s.side;
    }
    image.frame[2 * i] = inside ? 220 : 30;
    image.frame[2 * i + 1] = 128;
  }
}

// The objects of the frame after @p before when it shows @p after, as x, y, w, h, pixels.
std::vector<std::vector<int>> moved(MotionDetector& detector, std::initializer_list<Square> before,
                                    std::initializer_list<Square> after) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  paint(image, before);
  detector.process(image);
  paint(image, after);
  std::vector<std::vector<int>> boxes;
  for (const ekexample::MovingObject& o : detector.process(image).objects) {
    boxes.push_back({o.box.x, o.box.y, o.box.w, o.box.h, o.changedPixels});
  }
  return boxes;
}

using Boxes = std::vector<std::vector<int>>;

TEST(MotionDetection, EachMovingObjectGetsOneBoxTheLargestFirst) {
  MotionDetector detector;
  MotionDetector fine(40, 4);
  MotionDetector largestOnly(40, MotionDetector::kDefaultMinimumPixels, 1);
  // Overlapping old and new squares touch at the corners: one object over both.
  EXPECT_EQ(moved(detector, {{10, 10, 8}}, {{14, 12, 8}}), (Boxes{{10, 10, 12, 10, 80}}));
  // Two squares move, a 3 x 3 speck (under the 16 pixels of the minimum) appears.
  const std::initializer_list<Square> two = {{2, 2, 8}, {52, 36, 10}};
  const std::initializer_list<Square> twoMoved = {{5, 4, 8}, {54, 38, 10}, {30, 5, 3}};
  EXPECT_EQ(moved(detector, two, twoMoved), (Boxes{{52, 36, 12, 12, 72}, {2, 2, 11, 10, 68}}));
  EXPECT_EQ(moved(largestOnly, two, twoMoved), (Boxes{{52, 36, 12, 12, 72}}));
  // Moves along a column or a row leave two strips apart: paired into one object.
  EXPECT_EQ(moved(detector, {{0, 0, 6}}, {{0, 1, 6}}), Boxes{}) << "12 pixels: under the minimum";
  EXPECT_EQ(moved(fine, {{0, 1, 6}}, {{0, 0, 6}}), (Boxes{{0, 0, 6, 7, 12}}));
  EXPECT_EQ(moved(fine, {{0, 0, 6}, {20, 0, 6}}, {{3, 0, 6}, {20, 0, 6}}),
            (Boxes{{0, 0, 9, 6, 36}}));
}

TEST(MotionDetection, FirstFramesStillnessNoiseAndOtherFormatsFindNothing) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
  MotionDetector detector(40, 16);
  paint(image, {{0, 0, 8}});
  EXPECT_FALSE(detector.process(image).found) << "the first frame only primes";
  image.timeStamp = 99;
  EXPECT_EQ(detector.process(image).timeStamp, 99);
  EXPECT_FALSE(detector.process(image).found) << "nothing moved";
  image.frame[2 * (20 * 64 + 20)] = 255;  // one changed pixel
  EXPECT_FALSE(detector.process(image).found);
  EXPECT_FALSE(detector.process(EK::EKImage(64, 48, 0)).found) << "not YUV422";
  EXPECT_FALSE(detector.process(EK::EKImage(32, 24, EK::kColorSpaceYUV422)).found)
      << "a new size primes again";
  const EK::EKImage::ROI box = ekexample::angularBox(
      EK::EKImage(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f), 32, 0, 32, 48);
  EXPECT_NEAR(box.leftAngle, 0.0f, 1e-6) << "the middle column";
  EXPECT_FLOAT_EQ(box.rightAngle, -0.4f) << "the right edge";
  EXPECT_FLOAT_EQ(box.topAngle, 0.3f) << "the top edge";
}

}  // namespace
