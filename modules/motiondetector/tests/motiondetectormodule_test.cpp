// The motion detector as a vision module: on a camera showing the synthetic scene, through
// its remote methods, and with frames handed to its hook directly.
#include "motiondetectormodule.h"

#include <gtest/gtest.h>

#include <ekcommon/ekmodule.h>
#include <ekcommon/ekproxy.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "testextractor.h"

namespace {

using ekexample::MotionDetectorModule;

// The synthetic scene, remembering the time stamp of every picture it rendered.
class StampedScene : public EK::EKFrameSource {
 public:
  EK::EKValue grab(const EK::EKFrameRequest& request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    stamps_.push_back(request.timeStamp);
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
  const auto collect = [&] {
    const std::vector<EK::EKDetection> got = detectionsIn(proxy->call("getDetections"));
    detections.insert(detections.end(), got.begin(), got.end());
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

  const std::vector<long long> stamps = scene->stamps();
  EXPECT_EQ(module->getFrameCount(), static_cast<int>(stamps.size()));
  ASSERT_GE(detections.size(), 10u) << "the rectangle moves in every frame";
  for (const EK::EKDetection& detection : detections) {
    const auto at = std::find(stamps.begin(), stamps.end(), detection.timeStamp);
    ASSERT_NE(at, stamps.end()) << "a detection of a frame never delivered";
    ASSERT_NE(at, stamps.begin()) << "the first frame only primes the detector";
    // The box spans where the rectangle was and where it is.
    const EK::EKPixelRect a =
        EK::EKSyntheticSource::toPixels(scene->scene.objectAt(at[-1]), 320, 240);
    const EK::EKPixelRect b = EK::EKSyntheticSource::toPixels(scene->scene.objectAt(*at), 320, 240);
    const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    EXPECT_EQ(std::vector<int>({detection.x, detection.y, detection.w, detection.h}),
              std::vector<int>(
                  {x, y, std::max(a.x + a.w, b.x + b.w) - x, std::max(a.y + a.h, b.y + b.h) - y}));
    // The camera's field of view is 0.41692221 rad to each side, 0.32097778 up and down.
    EXPECT_NEAR(detection.leftAngle, 0.41692221f * (1.0f - 2.0f * x / 320.0f), 1e-5);
    EXPECT_NEAR(detection.bottomAngle, 0.32097778f * (1.0f - 2.0f * (y + detection.h) / 240.0f),
                1e-5);
  }
  EXPECT_EQ(module->getDetections().getSize(), 0u) << "every detection was handed out once";
}

// Frames handed to the hook directly: a bright square that moves one column a frame.
class MotionDetectorHook : public MotionDetectorModuleTest {
 protected:
  void show(int column, long long timeStamp) {
    EK::EKImage image(64, 48, EK::kColorSpaceYUV422);
    for (int i = 0; i < 64 * 48; ++i) {
      image.frame[2 * i] =
          i % 64 >= column && i % 64 < column + 8 && i / 64 >= 20 && i / 64 < 28 ? 230 : 20;
    }
    image.timeStamp = timeStamp;
    module->processImage(&image);
  }
};

TEST_F(MotionDetectorHook, PendingDetectionsAreBoundedAndANewStartForgetsTheLastFrame) {
  const int frames = static_cast<int>(MotionDetectorModule::kMaxPending) + 10;
  for (int frame = 0; frame <= frames; ++frame) {
    show(frame % 40, frame);
  }
  const std::vector<EK::EKDetection> pending = detectionsIn(module->getDetections());
  ASSERT_EQ(pending.size(), MotionDetectorModule::kMaxPending) << "the oldest are dropped";
  EXPECT_EQ(pending.front().timeStamp, frames - static_cast<int>(pending.size()) + 1);
  EXPECT_EQ(pending.back().timeStamp, frames);
  // After a new start the next frame only primes the detector.
  module->onStartDetection();
  show(30, frames + 1);
  EK::EKDetection last;
  ASSERT_TRUE(EK::EKDetection::fromEKValue(module->getLastDetection(), last));
  EXPECT_EQ(last.timeStamp, frames + 1);
  EXPECT_FALSE(last.found);
  EXPECT_EQ(module->getDetections().getSize(), 0u);
}

}  // namespace
