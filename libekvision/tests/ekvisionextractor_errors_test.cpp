// Camera failures at each point of a vision module's life, and exceptions that leave the
// processing loop.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKError;
using ektest::ExtractorFixture;
using ektest::kDeadlineMs;

class VisionExtractorErrorTest : public ExtractorFixture {};

TEST(VisionExtractorWithoutCamera, ProxyFailureIsLoggedAndTheModuleExits) {
  ektest::LogCapture capture;
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker("lonely"));
  auto detector = EK::createModule<ektest::TestExtractor>(broker, "Detector", 1, 9, 15);
  EXPECT_TRUE(detector->hasExited());
  EXPECT_FALSE(broker->getModule("Detector")) << "a module that exited is not registered";
  const std::vector<ektest::LogRecord> records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, 1);
  EXPECT_EQ(records[0].category, "EKVisionExtractor");
  EXPECT_EQ(records[0].function, "EKVisionExtractorPrivate");
  EXPECT_EQ(records[0].message.rfind("Could not create proxy to EKVideoDevice EKBroker::getProxy "
                                     "no module named \"EKVideoDevice\"",
                                     0),
            0u);
  EXPECT_EQ(records[0].message.back(), '\n');
  EXPECT_THROW(detector->setFrameRate(30), EKError) << "camera calls fail without a camera";
  EXPECT_THROW(detector->subscribe("client", 100, 0.0f), EKError)
      << "an unregistered module cannot launch its loop";
}

TEST_F(VisionExtractorErrorTest, SubscriptionFailureExitsButTheLoopStillReleasesTheStarter) {
  auto detector = makeDetector();
  source->failNext(EKCameraCall::kSubscribe);
  detector->subscribe("client", 100, 0.0f);  // returns: the first iteration ended anyway
  EXPECT_TRUE(logged(2, "xSubscribe", "Could not subscribe to EKVideoDevice\n"));
  EXPECT_TRUE(detector->hasExited());
  EXPECT_TRUE(detector->isProcessing()) << "the loop keeps iterating without images";
  ASSERT_TRUE(ektest::eventually([this] { return cameraCalls(EKCameraCall::kGetImage) >= 3; }));
  EXPECT_EQ(detector->images(), 0);
  EXPECT_GE(cameraCalls(EKCameraCall::kReleaseImage), 2) << "releases go on without images";
  detector->unsubscribe("client");
  EXPECT_FALSE(detector->isProcessing());
  // A later setter subscribes: the failed subscription is tried again.
  EXPECT_TRUE(detector->setFrameRate(30));
  EXPECT_EQ(camera->getSubscribers(), std::vector<std::string>{kCameraId});
}

TEST_F(VisionExtractorErrorTest, ImageFailureSkipsTheHookButNotTheRelease) {
  auto detector = makeDetector();
  source->failNext(EKCameraCall::kGetImage, 2);
  source->deliverNonImages(1);
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(2));
  detector->unsubscribe("client");
  EXPECT_EQ(detector->sequence().front(), 1u) << "the first image is the first one delivered";
  const int fetches = cameraCalls(EKCameraCall::kGetImage);
  EXPECT_EQ(detector->images(), fetches - 3);
  EXPECT_EQ(cameraCalls(EKCameraCall::kReleaseImage), fetches);
  int retrievalRecords = 0;
  for (const ektest::LogRecord& record : engineRecords()) {
    if (record.function == "xGetImage") {
      ++retrievalRecords;
      EXPECT_EQ(record.level, 2);
      EXPECT_EQ(record.message.rfind(
                    "Could not retrieve image EKVideoDevice::getImageRemote scripted failure", 0),
                0u);
      EXPECT_NE(record.message.back(), '\n') << "this message has no newline";
    }
  }
  EXPECT_EQ(retrievalRecords, 2);
  EXPECT_EQ(capture.count("EKValue is not an image, cannot convert\n"), 1u);
}

TEST_F(VisionExtractorErrorTest, FailingFirstImageStillReleasesTheStarter) {
  auto detector = makeDetector(15);
  source->setFailing(EKCameraCall::kGetImage, true);
  detector->subscribe("client", 100, 0.0f);
  EXPECT_GE(cameraCalls(EKCameraCall::kGetImage), 1);
  EXPECT_EQ(detector->images(), 0);
  EXPECT_GE(cameraCalls(EKCameraCall::kReleaseImage), 1) << "the failed fetch was released";
  source->setFailing(EKCameraCall::kGetImage, false);
  ASSERT_TRUE(detector->waitForImages(1)) << "the loop goes on after failures";
  detector->unsubscribe("client");
}

TEST_F(VisionExtractorErrorTest, ReleaseFailureEndsTheLoopAndALaterStopReturns) {
  auto detector = makeDetector();
  source->failNext(EKCameraCall::kReleaseImage);
  detector->subscribe("client", 100, 0.0f);  // returns although the first iteration failed
  ASSERT_TRUE(ektest::eventually([&] { return !detector->isProcessing(); }));
  EXPECT_FALSE(detector->isPaused());
  detector->unsubscribe("client");  // stop() must not wait for ever
  EXPECT_EQ(detector->stops.load(), 1);
  EXPECT_TRUE(ektest::eventually([this] {
    for (const ektest::LogRecord& record : capture.records()) {
      if (record.category == "EKBroker" &&
          record.message.find("releaseImage scripted failure") != std::string::npos) {
        return true;
      }
    }
    return false;
  })) << "the task's failure is logged";
  // The module recovers: a new start runs a new loop.
  detector->subscribe("client", 100, 0.0f);
  EXPECT_TRUE(detector->isProcessing());
  detector->unsubscribe("client");
}

TEST_F(VisionExtractorErrorTest, HookFailureLaterInTheRunEndsTheLoopCleanly) {
  auto detector = makeDetector();
  detector->onImage = [](int count) {
    if (count == 3) {
      throw EKERROR("Detector", "processImage", "broken detector");
    }
  };
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(ektest::eventually([&] { return !detector->isProcessing(); }));
  EXPECT_EQ(detector->images(), 3);
  EXPECT_EQ(camera->getHeldImages(kCameraId), 1) << "the failed iteration did not release";
  detector->unsubscribe("client");
  EXPECT_EQ(detector->stops.load(), 1);
}

TEST_F(VisionExtractorErrorTest, SetterAndGetterErrorsReachTheCaller) {
  auto detector = makeDetector();
  source->failNext(EKCameraCall::kSetParameter);
  EXPECT_THROW(detector->setFrameRate(30), EKError);
  EXPECT_EQ(detector->getFrameRate(), 100) << "a failed setter stores nothing";
  source->failNext(EKCameraCall::kGetParameter);
  EXPECT_THROW(detector->getResolution(), EKError);
  EXPECT_TRUE(engineRecords().empty()) << "setter and getter errors are not logged";
}

TEST_F(VisionExtractorErrorTest, UnsubscriptionFailureAtDestructionIsLoggedAndExits) {
  auto detector = makeDetector();
  ASSERT_TRUE(detector->setFrameRate(30));
  source->failNext(EKCameraCall::kUnsubscribe);
  boost::weak_ptr<ektest::TestExtractor> weak = detector;
  detector.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(logged(2, "xUnsubscribe", "Could not unsubscribe to EKVideoDevice\n"));
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 1);
  EXPECT_EQ(camera->getSubscribers(), std::vector<std::string>{kCameraId});
}

}  // namespace
