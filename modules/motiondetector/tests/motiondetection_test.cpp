// The motion detector: the detection step (one box per moving object, spanning where it was
// and where it is), and the vision module on the synthetic scene and fed by hand. Where its
// boxes lie in a camera picture is checked through `ekvision run`, which prints them.
#include <gtest/gtest.h>

#include <ekcommon/ekmodule.h>
#include <ekcommon/ekproxy.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>

#include <atomic>
#include <thread>
#include <vector>

#include "motiondetection.h"
#include "motiondetectormodule.h"
#include "testextractor.h"

namespace {

using ekmotion::Detection;
using ekmotion::MotionDetector;
using ekmotion::MotionDetectorModule;

struct Square {
  int x, y, side;
};

// A YUV422 frame: dark background, bright squares.
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
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
  paint(image, before);
  detector.process(image);
  paint(image, after);
  std::vector<std::vector<int>> boxes;
  for (const ekmotion::MovingObject& o : detector.process(image).objects) {
    boxes.push_back({o.box.x, o.box.y, o.box.w, o.box.h, o.changedPixels});
  }
  return boxes;
}

using Boxes = std::vector<std::vector<int>>;

TEST(MotionDetection, EachMovingObjectGetsOneBoxTheLargestFirst) {
  MotionDetector detector;
  // Overlapping old and new squares touch at the corners: one object over both.
  EXPECT_EQ(moved(detector, {{10, 10, 8}}, {{14, 12, 8}}), (Boxes{{10, 10, 12, 10, 80}}));
  // Two squares move, a 3 x 3 speck (under the 16 pixels of the minimum) appears.
  EXPECT_EQ(moved(detector, {{2, 2, 8}, {52, 36, 10}}, {{5, 4, 8}, {54, 38, 10}, {30, 5, 3}}),
            (Boxes{{52, 36, 12, 12, 72}, {2, 2, 11, 10, 68}}));
  // A move along a row leaves two strips apart: paired into one object.
  EXPECT_EQ(moved(detector, {{0, 0, 6}, {20, 0, 6}}, {{3, 0, 6}, {20, 0, 6}}),
            (Boxes{{0, 0, 9, 6, 36}}));
}

TEST(MotionDetection, FirstFramesStillnessAndOtherFormatsFindNothing) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
  MotionDetector detector(40, 16);
  paint(image, {{0, 0, 8}});
  EXPECT_FALSE(detector.process(image).found) << "the first frame only primes";
  image.timeStamp = 99;
  const Detection still = detector.process(image);
  EXPECT_TRUE(still.timeStamp == 99 && !still.found) << "nothing moved";
  EXPECT_FALSE(detector.process(EK::EKImage(64, 48, 0)).found) << "not YUV422";
  EXPECT_FALSE(detector.process(EK::EKImage(32, 24, EK::kColorSpaceYUV422)).found)
      << "a new size primes again";
}

std::vector<EK::EKDetection> detectionsIn(const EK::EKValue& list) {
  std::vector<EK::EKDetection> detections(list.getSize());
  for (unsigned i = 0; i < list.getSize(); ++i) {
    EXPECT_TRUE(EK::EKDetection::fromEKValue(list[static_cast<int>(i)], detections[i]));
  }
  return detections;
}

class MotionDetectorModuleTest : public testing::Test {
 protected:
  void TearDown() override { broker->joinTasks(); }

  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  boost::shared_ptr<EK::EKVideoDevice> camera =
      EK::createModule<EK::EKVideoDevice>(broker, std::make_shared<EK::EKSyntheticSource>());
  boost::shared_ptr<MotionDetectorModule> module =
      EK::createModule<MotionDetectorModule>(broker, "Motion", EK::kResolution320x240, 30);
};

TEST_F(MotionDetectorModuleTest, EachFrameIsProcessedAndEachDetectionHandedOutOnce) {
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Motion", 0);
  // A client reads the results while the loop writes them.
  std::atomic<bool> reading{true};
  std::vector<EK::EKDetection> detections;
  const auto collect = [&] {
    for (const EK::EKDetection& d : detectionsIn(proxy->call("getDetections"))) {
      detections.push_back(d);
    }
  };
  std::thread reader([&] {
    while (reading) {
      collect();
    }
  });
  module->subscribe("test", 33, 0.0f);
  const bool enough = ektest::eventually([&] { return int(proxy->call("getFrameCount")) >= 20; });
  module->unsubscribe("test");
  reading = false;
  reader.join();
  ASSERT_TRUE(enough) << "the loop processed too few frames";
  collect();
  EXPECT_GE(detections.size(), 10u) << "the rectangle moves in every frame";
  for (std::size_t i = 1; i < detections.size(); ++i) {
    EXPECT_GT(detections[i].timeStamp, detections[i - 1].timeStamp) << "each handed out once";
    // The camera's field of view is 0.41692221 rad to each side.
    EXPECT_NEAR(detections[i].leftAngle, 0.41692221f * (1.0f - 2.0f * detections[i].x / 320.0f),
                1e-5);
  }
}

// Frames handed to the hook directly: a bright square that moves one column a frame.
TEST_F(MotionDetectorModuleTest, PendingDetectionsAreBoundedAndANewStartForgetsTheLastFrame) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
  const auto show = [&](int column, long long timeStamp) {
    paint(image, {{column, 20, 8}});
    image.timeStamp = timeStamp;
    module->processImage(&image);
  };
  const int frames = static_cast<int>(MotionDetectorModule::kMaxPending) + 10;
  for (int frame = 0; frame <= frames; ++frame) {
    show(frame % 40, frame);
  }
  const std::vector<EK::EKDetection> pending = detectionsIn(module->getDetections());
  ASSERT_EQ(pending.size(), MotionDetectorModule::kMaxPending) << "the oldest are dropped";
  EXPECT_EQ(pending.front().timeStamp, frames - static_cast<int>(pending.size()) + 1);
  // After a new start the next frame only primes the detector.
  module->onStartDetection();
  show(30, frames + 1);
  EK::EKDetection last;
  ASSERT_TRUE(EK::EKDetection::fromEKValue(module->getLastDetection(), last));
  EXPECT_TRUE(last.timeStamp == frames + 1 && !last.found);
  EXPECT_EQ(module->getDetections().getSize(), 0u);
}

}  // namespace
