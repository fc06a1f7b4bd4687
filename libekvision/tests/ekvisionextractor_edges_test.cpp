// Calls that meet the processing loop as it starts or ends. A loop started through the remote
// method "_run" rather than through a subscription, or one that ends by itself on an error,
// is not ordered with the control calls: a stop or a pause may arrive at any moment.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <ru/log.h>

#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

class VisionExtractorEdgeTest : public ektest::ExtractorFixture {};

TEST_F(VisionExtractorEdgeTest, StopsWhileTheLoopStartsEndItAndNeverWaitForEver) {
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

TEST_F(VisionExtractorEdgeTest, StopWhileNoLoopRunsReturnsAtOnceAndTheNextRunGoesOn) {
  auto detector = makeDetector(120);
  detector->xStopDetection();
  EXPECT_EQ(detector->stops.load(), 1);
  std::thread loop([&] { detector->xRun(); });
  ASSERT_TRUE(detector->waitForImages(3)) << "the earlier stop does not end a later loop";
  detector->xStopDetection();
  loop.join();
  EXPECT_FALSE(detector->isProcessing());
}

TEST_F(VisionExtractorEdgeTest, PauseThatMeetsTheLoopsEndLeavesNoPauseBehind) {
  auto detector = makeDetector(120);
  std::atomic<bool> inHook{false};
  std::atomic<bool> fail{false};
  // The second image ends the loop with an error once the pauses below are under way.
  detector->onImage = [&](int count) {
    if (count == 2) {
      inHook = true;
      ASSERT_TRUE(ektest::eventually([&] { return fail.load(); }));
      throw EK::EKError("Detector", "processImage", "broken detector", "", 0);
    }
  };
  // The first pause holds the pause lock while it logs; it waits there, for a bounded time,
  // for the loop to end, while a second pause that has seen the loop running queues behind
  // it. That second pause must not outlive the loop.
  std::atomic<int> notices{0};
  struct Handler {
    ru::log::Handler previous;
    ~Handler() { ru::log::setHandler(previous); }
  } handler{ru::log::setHandler([&](int, const std::string&, const std::string& message,
                                    const std::string&, const std::string&, int) {
    if (message == "Extractor pause status 1\n" && notices++ == 0) {
      ektest::eventually([&] { return !detector->isProcessing(); }, 300);
    }
  })};
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(ektest::eventually([&] { return inHook.load(); }));
  std::thread first([&] { detector->pause(true); });
  ASSERT_TRUE(ektest::eventually([&] { return notices.load() == 1; }));
  std::thread second([&] { detector->pause(true); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it reach the lock
  fail = true;
  first.join();
  second.join();
  ASSERT_TRUE(ektest::eventually([&] { return !detector->isProcessing(); }));
  EXPECT_FALSE(detector->isPaused()) << "a pause survived the loop it was meant for";
  detector->unsubscribe("client");
}

}  // namespace
