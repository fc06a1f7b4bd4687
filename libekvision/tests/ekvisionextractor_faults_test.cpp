// A camera that keeps failing: the processing loop must go on at its pace (never spin, never
// stop by itself), exit() the module exactly where the camera cannot be subscribed, and
// stop whenever it is asked to.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using Clock = std::chrono::steady_clock;
using EK::EKCameraCall;
using EK::EKError;

// Counts the calls of exit(), which the engine makes on camera failures.
class CountingExtractor : public ektest::TestExtractor {
 public:
  using TestExtractor::TestExtractor;
  void exit() override {
    ++exits;
    TestExtractor::exit();
  }
  std::atomic<int> exits{0};
};

// How the camera fails to give an image: it throws, or it answers with something else.
enum class BadImage { kThrows, kNotAnImage };

class VisionExtractorFaultTest : public ektest::ExtractorFixture,
                                 public testing::WithParamInterface<BadImage> {
 protected:
  static constexpr int kFrameRate = 50;
  static constexpr int kPeriodMs = 1000 / kFrameRate;

  boost::shared_ptr<CountingExtractor> makeCountingDetector() {
    return EK::createModule<CountingExtractor>(broker, "Detector", 0, 9, kFrameRate);
  }

  void breakImages() {
    if (GetParam() == BadImage::kThrows) {
      source->setFailing(EKCameraCall::kGetImage, true);
    } else {
      source->deliverNonImages(1 << 30);
    }
  }

  // Waits for @p iterations more fetches and checks that they took at least their frame
  // periods: a loop without images must not spin. Only a lower bound on the time is
  // asserted; a loaded machine only makes the loop slower.
  void expectPacedIterations(int iterations) {
    const int before = cameraCalls(EKCameraCall::kGetImage);
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(ektest::eventually([&] {
      return cameraCalls(EKCameraCall::kGetImage) >= before + iterations;
    })) << "the loop stopped iterating";
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // The first fetch counted may come right after `start`; each later one a period on,
    // less the millisecond that the sleep's truncation may take off.
    EXPECT_GE(elapsed, (iterations - 1) * (kPeriodMs - 1))
        << iterations << " fetches in " << elapsed << " ms: the loop does not keep its pace";
  }
};

TEST_P(VisionExtractorFaultTest, FailingCameraKeepsTheLoopAtItsPaceAndExitsOnlyOnSubscription) {
  auto detector = makeCountingDetector();
  source->setFailing(EKCameraCall::kSubscribe, true);
  source->setFailing(EKCameraCall::kSetParameter, true);
  source->setFailing(EKCameraCall::kGetParameter, true);
  breakImages();

  detector->subscribe("client", 100, 0.0f);  // returns after the first, failed iteration
  EXPECT_EQ(detector->exits.load(), 1) << "the failed subscription exits the module";
  EXPECT_TRUE(detector->isProcessing());
  expectPacedIterations(8);

  // Settings fail on the caller's thread; the loop goes on. Each setter tries to subscribe
  // again first, and that failure exits the module again.
  EXPECT_THROW(detector->setFrameRate(10), EKError);
  EXPECT_EQ(detector->exits.load(), 2);
  EXPECT_THROW(detector->getResolution(), EKError);
  EXPECT_EQ(detector->exits.load(), 2) << "getters do not subscribe";
  EXPECT_TRUE(detector->isProcessing());
  expectPacedIterations(4);

  detector->unsubscribe("client");
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_EQ(detector->stops.load(), 1);
  EXPECT_EQ(detector->images(), 0) << "the hook never sees a missing image";
  EXPECT_EQ(cameraCalls(EKCameraCall::kReleaseImage), cameraCalls(EKCameraCall::kGetImage))
      << "every fetch, failed or not, is released";
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 0);
  EXPECT_EQ(detector->exits.load(), 2) << "fetch failures never exit the module";
}

TEST_P(VisionExtractorFaultTest, CameraThatComesBackIsUsedByTheRunningLoop) {
  auto detector = makeCountingDetector();
  breakImages();
  detector->subscribe("client", 100, 0.0f);
  expectPacedIterations(3);
  source->setFailing(EKCameraCall::kGetImage, false);
  source->deliverNonImages(0);
  EXPECT_TRUE(detector->waitForImages(3));
  detector->unsubscribe("client");
  EXPECT_EQ(detector->exits.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(BadImages, VisionExtractorFaultTest,
                         testing::Values(BadImage::kThrows, BadImage::kNotAnImage),
                         [](const testing::TestParamInfo<BadImage>& info) {
                           return info.param == BadImage::kThrows ? std::string("Throws")
                                                                  : std::string("NotAnImage");
                         });

class VisionExtractorReleaseFaultTest : public ektest::ExtractorFixture {};

TEST_F(VisionExtractorReleaseFaultTest, ReleaseThatAlwaysFailsEndsEachRunAndNeverHangsAStop) {
  auto detector = makeDetector();
  source->setFailing(EKCameraCall::kReleaseImage, true);
  for (int run = 1; run <= 3; ++run) {
    detector->subscribe("client", 100, 0.0f);  // the starter is released by the failed run
    ASSERT_TRUE(ektest::eventually([&] { return !detector->isProcessing(); }));
    detector->unsubscribe("client");
    EXPECT_EQ(detector->stops.load(), run);
    EXPECT_EQ(cameraCalls(EKCameraCall::kGetImage), run) << "one iteration a run";
    EXPECT_EQ(detector->images(), run);
  }
  EXPECT_EQ(camera->getHeldImages(kCameraId), 3) << "the camera keeps what was not released";
  EXPECT_FALSE(detector->hasExited()) << "a failed release is the caller's, not an exit";
}

}  // namespace
