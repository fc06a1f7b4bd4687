// A camera that fails at each point of a vision module's life, and exceptions that leave the
// processing loop: the loop goes on at its pace (never spins, never stops by itself), exits
// the module exactly where the camera cannot be subscribed, and stops whenever asked.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using Clock = std::chrono::steady_clock;
using EK::EKCameraCall;
using EK::EKError;

class VisionExtractorFaultTest : public ektest::ExtractorFixture {
 protected:
  static constexpr int kFrameRate = 50;
  static constexpr int kPeriodMs = 1000 / kFrameRate;

  // Waits for @p iterations more fetches, which must take their frame periods: a loop without
  // images must not spin. (Only a lower bound: a loaded machine only makes the loop slower.)
  void expectPacedIterations(int iterations) {
    const int before = cameraCalls(EKCameraCall::kGetImage);
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(ektest::eventually([&] {
      return cameraCalls(EKCameraCall::kGetImage) >= before + iterations;
    })) << "the loop stopped iterating";
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // The first fetch may come right after `start`; the sleep's truncation may take 1 ms off.
    EXPECT_GE(elapsed, (iterations - 1) * (kPeriodMs - 1))
        << iterations << " fetches in " << elapsed << " ms: the loop does not keep its pace";
  }
};

TEST_F(VisionExtractorFaultTest, FailingCameraKeepsTheLoopAtItsPaceAndExitsOnlyOnSubscription) {
  auto detector = makeDetector(kFrameRate);
  source->setFailing(EKCameraCall::kSubscribe, true);
  source->setFailing(EKCameraCall::kSetParameter, true);
  source->setFailing(EKCameraCall::kGetParameter, true);

  detector->subscribe("client", 100, 0.0f);  // returns after the first, failed iteration
  EXPECT_EQ(detector->exits.load(), 1) << "the failed subscription exits the module";
  EXPECT_TRUE(logged(2, "xSubscribe", "Could not subscribe to EKVideoDevice\n"));
  EXPECT_TRUE(detector->isProcessing());
  expectPacedIterations(8);

  // Settings fail on the caller's thread; the loop goes on. Each setter tries to subscribe
  // again first, and that failure exits the module again.
  EXPECT_THROW(detector->setFrameRate(10), EKError);
  EXPECT_EQ(detector->exits.load(), 2);
  EXPECT_THROW(detector->getResolution(), EKError);
  EXPECT_EQ(detector->exits.load(), 2) << "getters do not subscribe";
  EXPECT_TRUE(detector->isProcessing());

  detector->unsubscribe("client");
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_EQ(detector->stops.load(), 1);
  EXPECT_EQ(detector->images(), 0);
  EXPECT_EQ(cameraCalls(EKCameraCall::kReleaseImage), cameraCalls(EKCameraCall::kGetImage));
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 0);
  EXPECT_EQ(detector->exits.load(), 2) << "fetch failures never exit the module";
}

TEST_F(VisionExtractorFaultTest, BadImagesAreSkippedAndReleasedUntilTheCameraComesBack) {
  auto detector = makeDetector();
  ASSERT_TRUE(detector->setFrameRate(kFrameRate));  // the loop keeps the new pace
  source->setFailing(EKCameraCall::kGetImage, true);
  detector->subscribe("client", 100, 0.0f);
  expectPacedIterations(3);
  const std::string why = "Could not retrieve image EKVideoDevice::getImageRemote scripted failure";
  int said = 0;
  for (const ektest::LogRecord& record : engineRecords()) {
    said += record.level == 2 && record.function == "xGetImage" &&
            record.message.rfind(why, 0) == 0 && record.message.back() != '\n';
  }
  EXPECT_GE(said, 3) << "each failed fetch says why, with no newline";
  source->setFailing(EKCameraCall::kGetImage, false);
  source->deliverNonImages(1 << 30);  // answers that are not images
  expectPacedIterations(3);
  EXPECT_EQ(detector->images(), 0) << "the hook never sees a missing image";
  source->deliverNonImages(0);
  EXPECT_TRUE(detector->waitForImages(3)) << "the running loop uses the camera that came back";
  detector->unsubscribe("client");
  EXPECT_EQ(cameraCalls(EKCameraCall::kReleaseImage), cameraCalls(EKCameraCall::kGetImage))
      << "every fetch, failed or not, is released";
  EXPECT_EQ(detector->exits.load(), 0) << "fetch failures never exit the module";
}

TEST_F(VisionExtractorFaultTest, ReleaseThatFailsEndsEachRunAndNeverHangsAStop) {
  auto detector = makeDetector();
  source->setFailing(EKCameraCall::kReleaseImage, true);
  for (int run = 1; run <= 2; ++run) {
    detector->subscribe("client", 100, 0.0f);  // the starter is released by the failed run
    ASSERT_TRUE(ektest::eventually([&] { return !detector->isProcessing(); }));
    detector->unsubscribe("client");  // stop() must not wait for ever
    EXPECT_EQ(detector->stops.load(), run);
    EXPECT_EQ(cameraCalls(EKCameraCall::kGetImage), run) << "one iteration a run";
    EXPECT_EQ(detector->images(), run);
  }
  EXPECT_EQ(camera->getHeldImages(kCameraId), 2) << "the camera keeps what was not released";
  EXPECT_EQ(detector->exits.load(), 0) << "a failed release is the caller's, not an exit";
  source->setFailing(EKCameraCall::kReleaseImage, false);
  detector->subscribe("client", 100, 0.0f);  // the module recovers: a new loop runs on
  ASSERT_TRUE(detector->waitForImages(4));
  EXPECT_TRUE(detector->isProcessing());
  detector->unsubscribe("client");
}

TEST_F(VisionExtractorFaultTest, HookFailureLaterInTheRunEndsTheLoopCleanly) {
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

TEST_F(VisionExtractorFaultTest, UnsubscriptionFailureAtDestructionIsLoggedAndExits) {
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

TEST(VisionExtractorWithoutCamera, ProxyFailureIsLoggedAndTheModuleExits) {
  ektest::LogCapture capture;
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker("lonely"));
  auto detector = EK::createModule<ektest::TestExtractor>(broker, "Detector", 1, 9, 15);
  EXPECT_TRUE(detector->hasExited());
  EXPECT_FALSE(broker->getModule("Detector")) << "a module that exited is not registered";
  const std::vector<ektest::LogRecord> records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::tie(records[0].level, records[0].category, records[0].function),
            std::make_tuple(1, "EKVisionExtractor", "EKVisionExtractorPrivate"));
  EXPECT_EQ(records[0].message.rfind("Could not create proxy to EKVideoDevice EKBroker::getProxy "
                                     "no module named \"EKVideoDevice\"",
                                     0),
            0u);
  EXPECT_EQ(records[0].message.back(), '\n');
  EXPECT_THROW(detector->setFrameRate(30), EKError) << "camera errors reach the caller";
  EXPECT_THROW(detector->subscribe("client", 100, 0.0f), EKError)
      << "an unregistered module cannot launch its loop";
}

}  // namespace
