// Stopping a loop started through the remote method "_run" rather than through a
// subscription: nothing then orders the stop after the loop's first frame, so the stop may
// arrive at any moment of the start.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <ru/log.h>

#include "testextractor.h"

namespace {

class VisionExtractorStopTest : public ektest::ExtractorFixture {};

TEST_F(VisionExtractorStopTest, StopsWhileTheLoopStartsEndItAndNeverWaitForEver) {
  // Frame rate 0: the loop does not pace itself (the camera refuses the subscription, so the
  // loop fetches nothing), and a round costs no more than its threads.
  auto detector = makeDetector(0);
  // The stopper's calls before the loop runs each log that nothing runs; drop them.
  struct Silence {
    ru::log::Handler previous =
        ru::log::setHandler([](int, const std::string&, const std::string&, const std::string&,
                               const std::string&, int) {});
    ~Silence() { ru::log::setHandler(previous); }
  } silence;
  for (int round = 0; round < 100; ++round) {
    std::atomic<bool> ended{false};
    std::thread loop([&] {
      detector->xRun();
      ended = true;
    });
    // Stops one after the other, from before the loop starts until it has ended: those that
    // find no loop return at once, and one that finds it running must end it.
    std::future<void> stopper = std::async(std::launch::async, [&] {
      while (!ended) {
        detector->xStopDetection();
      }
    });
    const bool hung = stopper.wait_for(std::chrono::milliseconds(ektest::kDeadlineMs)) !=
                      std::future_status::ready;
    if (hung) {
      detector->xStopDetection();  // a request the loop sees ends it and frees the stopper
    }
    stopper.get();
    loop.join();
    ASSERT_FALSE(hung) << "round " << round << ": a stop was lost and waited for the loop";
    ASSERT_FALSE(detector->isProcessing());
  }
}

TEST_F(VisionExtractorStopTest, StopWhileNoLoopRunsReturnsAtOnceAndTheNextRunGoesOn) {
  auto detector = makeDetector(120);
  detector->xStopDetection();
  EXPECT_EQ(detector->stops.load(), 1);
  std::thread loop([&] { detector->xRun(); });
  ASSERT_TRUE(detector->waitForImages(3)) << "the earlier stop does not end a later loop";
  detector->xStopDetection();
  loop.join();
  EXPECT_FALSE(detector->isProcessing());
}

}  // namespace
