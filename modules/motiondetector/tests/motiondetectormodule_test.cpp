// The motion detector as a vision module: on a camera showing the synthetic scene, through
// its remote methods, and with frames handed to its hook directly.
#include "motiondetectormodule.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <ekcommon/ekmodule.h>
#include <ekcommon/ekproxy.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>

#include "testextractor.h"

namespace {

using ekexample::MotionDetectorModule;

// The synthetic scene, remembering the time stamp of every picture it rendered.
class StampedScene : public EK::EKFrameSource {
 public:
  EK::EKValue grab(const EK::EKFrameRequest& request) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stamps_.push_back(request.timeStamp);
    }
    return scene.grab(request);
  }
  std::vector<long long> stamps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_;
  }

  EK::EKSyntheticSource scene;

 private:
  mutable std::mutex mutex_;
  std::vector<long long> stamps_;
};

std::vector<EK::EKDetection> detectionsIn(const EK::EKValue& list) {
  std::vector<EK::EKDetection> detections;
  EXPECT_TRUE(list.isArray());
  for (unsigned i = 0; i < list.getSize(); ++i) {
    EK::EKDetection detection;
    EXPECT_TRUE(EK::EKDetection::fromEKValue(list[static_cast<int>(i)], detection));
    detections.push_back(detection);
  }
  return detections;
}

// The bounding box of two rectangles.
EK::EKPixelRect unionOf(const EK::EKPixelRect& a, const EK::EKPixelRect& b) {
  const int left = std::min(a.x, b.x);
  const int top = std::min(a.y, b.y);
  const int right = std::max(a.x + a.w, b.x + b.w);
  const int bottom = std::max(a.y + a.h, b.y + b.h);
  return {left, top, right - left, bottom - top};
}

class MotionDetectorModuleTest : public testing::Test {
 protected:
  void TearDown() override { broker->joinTasks(); }

  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  std::shared_ptr<StampedScene> scene = std::make_shared<StampedScene>();
  boost::shared_ptr<EK::EKVideoDevice> camera = EK::createModule<EK::EKVideoDevice>(broker, scene);
  boost::shared_ptr<MotionDetectorModule> module =
      EK::createModule<MotionDetectorModule>(broker, "Motion", EK::kResolution320x240, 30);
};

TEST_F(MotionDetectorModuleTest, DetectionsCoverTheRectangleWhereItWasAndWhereItIs) {
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Motion", 0);
  // A client reads the results while the loop writes them.
  std::atomic<bool> reading{true};
  std::vector<EK::EKDetection> detections;
  std::thread reader([&] {
    while (reading.load()) {
      for (const EK::EKDetection& d : detectionsIn(proxy->call("getDetections"))) {
        detections.push_back(d);
      }
      proxy->call("getLastDetection");
    }
  });
  module->subscribe("test", 33, 0.0f);
  const bool enough = ektest::eventually([&] { return int(proxy->call("getFrameCount")) >= 20; });
  module->unsubscribe("test");
  reading = false;
  reader.join();
  ASSERT_TRUE(enough) << "the loop processed too few frames";
  for (const EK::EKDetection& d : detectionsIn(module->getDetections())) {
    detections.push_back(d);
  }

  const std::vector<long long> stamps = scene->stamps();
  EXPECT_EQ(module->getFrameCount(), static_cast<int>(stamps.size()));
  ASSERT_GE(detections.size(), 10u) << "the rectangle moves in every frame";
  EK::EKImage reference(EK::kResolution320x240, EK::kColorSpaceYUV422);
  for (const EK::EKDetection& detection : detections) {
    const auto at = std::find(stamps.begin(), stamps.end(), detection.timeStamp);
    ASSERT_NE(at, stamps.end()) << "a detection of a frame never delivered";
    ASSERT_NE(at, stamps.begin()) << "the first frame only primes the detector";
    const EK::EKPixelRect expected =
        unionOf(EK::EKSyntheticSource::toPixels(scene->scene.objectAt(*(at - 1)), 320, 240),
                EK::EKSyntheticSource::toPixels(scene->scene.objectAt(*at), 320, 240));
    EXPECT_EQ(detection.x, expected.x);
    EXPECT_EQ(detection.y, expected.y);
    EXPECT_EQ(detection.w, expected.w);
    EXPECT_EQ(detection.h, expected.h);
    // The camera's field of view is 0.41692221 rad to each side, 0.32097778 up and down.
    EXPECT_NEAR(detection.leftAngle, 0.41692221f * (1.0f - 2.0f * expected.x / 320.0f), 1e-5);
    EXPECT_NEAR(detection.bottomAngle,
                0.32097778f * (1.0f - 2.0f * (expected.y + expected.h) / 240.0f), 1e-5);
    EXPECT_GT(detection.pixelCount, 0);
  }
  EK::EKDetection last;
  ASSERT_TRUE(EK::EKDetection::fromEKValue(module->getLastDetection(), last));
  EXPECT_EQ(last.timeStamp, stamps.back());
  EXPECT_EQ(module->getDetections().getSize(), 0u) << "every detection was handed out once";
}

TEST_F(MotionDetectorModuleTest, RemoteMethodsAreListedWithTheirTypes) {
  for (const char* name : {"getLastDetection", "getDetections", "getFrameCount", "pause"}) {
    EXPECT_NE(module->getMethod(name), nullptr) << name;
  }
  EXPECT_EQ(module->getMethod("getFrameCount")->returnValue.typeName, "int");
  EXPECT_EQ(module->getMethod("getDetections")->returnValue.typeName, "EKValue");
  EK::EKDetection before;
  ASSERT_TRUE(EK::EKDetection::fromEKValue(broker->getProxy("Motion", 0)->call("getLastDetection"),
                                           before));
  EXPECT_EQ(before.timeStamp, -1);
  EXPECT_FALSE(before.found);
  EXPECT_EQ(int(broker->getProxy("Motion", 0)->call("getFrameCount")), 0);
}

// Frames handed to the hook directly: a bright square that moves one column a frame.
class MotionDetectorHook : public MotionDetectorModuleTest {
 protected:
  void show(int column, long long timeStamp) {
    EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
    for (int row = 0; row < 48; ++row) {
      for (int x = 0; x < 64; ++x) {
        const bool inside = x >= column && x < column + 8 && row >= 20 && row < 28;
        image.frame[2 * (row * 64 + x)] = inside ? 230 : 20;
        image.frame[2 * (row * 64 + x) + 1] = 128;
      }
    }
    image.timeStamp = timeStamp;
    module->processImage(&image);
  }
};

TEST_F(MotionDetectorHook, PendingDetectionsAreBoundedAndTheOldestDropped) {
  const int frames = static_cast<int>(MotionDetectorModule::kMaxPending) + 10;
  for (int frame = 0; frame <= frames; ++frame) {
    show(frame % 40, frame);
  }
  const std::vector<EK::EKDetection> pending = detectionsIn(module->getDetections());
  ASSERT_EQ(pending.size(), MotionDetectorModule::kMaxPending);
  EXPECT_EQ(pending.front().timeStamp, frames - static_cast<int>(pending.size()) + 1);
  EXPECT_EQ(pending.back().timeStamp, frames);
  EXPECT_EQ(module->getFrameCount(), frames + 1);
}

TEST_F(MotionDetectorHook, ANewStartDoesNotCompareWithTheLastFrameOfTheRunBefore) {
  show(0, 1);
  show(20, 2);
  EXPECT_EQ(module->getDetections().getSize(), 1u);
  module->onStartDetection();
  show(30, 3);
  EK::EKDetection last;
  ASSERT_TRUE(EK::EKDetection::fromEKValue(module->getLastDetection(), last));
  EXPECT_EQ(last.timeStamp, 3);
  EXPECT_FALSE(last.found);
  EXPECT_EQ(module->getDetections().getSize(), 0u);
}

}  // namespace
