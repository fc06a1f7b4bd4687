// Concurrency: control threads against a loop that starts and stops, and calls that meet the
// loop as it starts or ends. A loop started through the remote method "_run" rather than through
// a subscription, or one that ends by itself on an error, is not ordered with the control calls:
// a stop or a pause may arrive at any moment.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>
#include <ru/log.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKValue;

// Replaces the log handler for the scope of the object.
struct ScopedLogHandler {
  explicit ScopedLogHandler(ru::log::Handler handler)
      : previous(ru::log::setHandler(std::move(handler))) {}
  ~ScopedLogHandler() { ru::log::setHandler(previous); }
  ru::log::Handler previous;
};

class VisionExtractorStressTest : public ektest::ExtractorFixture {};

TEST_F(VisionExtractorStressTest, ControlThreadsAgainstRepeatedStartsAndStops) {
  const int kCycles = 200;
  auto detector = makeDetector(120);
  // Getters do not subscribe; a setter does, before the getter thread asks.
  ASSERT_TRUE(detector->setFrameRate(120));
  std::atomic<bool> done{false};
  std::atomic<long> controlCalls{0};
  EKValue one;
  one.arrayPush(EKValue(1));
  // Remote calls arrive often but not back to back: three spinning threads on a small
  // machine would starve the loop they are meant to disturb.
  std::vector<std::thread> controls;
  const auto control = [&](std::function<void(int)> calls) {
    controls.emplace_back([&, calls] {
      for (int i = 0; !done; ++i, ++controlCalls) {
        calls(i);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  };
  control([&](int) {
    detector->pause(true);
    detector->pause(false);
    detector->setParameter("pause", one);
    detector->pause(false);
  });
  control([&](int i) {
    EXPECT_TRUE(detector->setFrameRate(i % 2 == 0 ? 120 : 100));
    EXPECT_TRUE(detector->setResolution(i % 2));
    EXPECT_FALSE(detector->setActiveCamera(5));
  });
  control([&](int) {
    detector->isProcessing();
    detector->isPaused();
    EXPECT_GE(detector->getFrameRate(), 100);
    EXPECT_LE(detector->getResolution(), 1);
  });
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    const int before = detector->images();
    detector->subscribe("client", 100, 0.0f);
    ASSERT_GT(detector->images(), before) << "start returned before a first frame, cycle " << cycle;
    detector->unsubscribe("client");
    ASSERT_FALSE(detector->isProcessing()) << "cycle " << cycle;
  }
  done = true;
  for (std::thread& control : controls) {
    control.join();
  }
  EXPECT_EQ(detector->starts.load(), kCycles);
  EXPECT_EQ(detector->stops.load(), kCycles);
  EXPECT_GT(controlCalls.load(), kCycles);
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
  EXPECT_EQ(camera->getHeldImages(kCameraId), 0);
  EXPECT_EQ(cameraCalls(EKCameraCall::kGetImage), cameraCalls(EKCameraCall::kReleaseImage));
}

TEST_F(VisionExtractorStressTest, StartReturnsWhenAStopArrivesDuringTheFirstFrame) {
  auto detector = makeDetector(100);
  std::atomic<bool> inHook{false};
  std::atomic<bool> release{false};
  detector->onImage = [&](int count) {
    if (count == 1) {
      inHook = true;
      ASSERT_TRUE(ektest::eventually([&] { return release.load(); }));
    }
  };
  std::atomic<bool> started{false};
  std::thread starter([&] {
    detector->subscribe("client", 100, 0.0f);
    started = true;
  });
  ASSERT_TRUE(ektest::eventually([&] { return inHook.load(); }));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    detector->xStopDetection();  // not through unsubscribe: the start holds the transition
    stopped = true;
  });
  // The stopper has cleared the pause (and logged it) just before asking the loop to stop.
  ASSERT_TRUE(ektest::eventually([&] { return capture.count("Extractor pause status 0\n") == 1; }));
  release = true;
  EXPECT_TRUE(ektest::eventually([&] { return stopped.load(); })) << "stop did not return";
  EXPECT_TRUE(ektest::eventually([&] { return started.load(); })) << "start did not return";
  starter.join();
  stopper.join();
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_LE(detector->images(), 2);
}

TEST_F(VisionExtractorStressTest, InterruptedPauseWaitEndsTheLoop) {
  auto detector = makeDetector(100);
  detector->onImage = [&detector](int count) {
    if (count == 1) {
      detector->pause(true);
    }
  };
  const int task = broker->getProxy("Detector", 0)->pCall("_run");
  ASSERT_TRUE(detector->waitForImages(1));
  // The interruption is kept until the loop reaches its pause wait, an interruption point.
  detector->stop(task);
  ASSERT_TRUE(broker->waitForTask(task, ektest::kDeadlineMs)) << "the interrupted loop did not end";
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
  EXPECT_EQ(detector->images(), 1);
  EXPECT_EQ(capture.count("Task Detector._run#" + std::to_string(task) + " was interrupted\n"), 1u);
  detector->subscribe("client", 100, 0.0f);  // and the module starts again
  EXPECT_TRUE(detector->isProcessing());
  detector->unsubscribe("client");
}

TEST_F(VisionExtractorStressTest, StopsWhileTheLoopStartsEndItAndNeverWaitForEver) {
  // Frame rate 0: the loop does not pace itself (the camera refuses the subscription, so the
  // loop fetches nothing), and a round costs no more than its threads.
  auto detector = makeDetector(0);
  // The stopper's calls before the loop runs each log that nothing runs; drop them.
  ScopedLogHandler silence([](int, const std::string&, const std::string&, const std::string&,
                              const std::string&, int) {});
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

TEST_F(VisionExtractorStressTest, PauseThatMeetsTheLoopsEndLeavesNoPauseBehind) {
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
  ScopedLogHandler handler([&](int, const std::string&, const std::string& message,
                               const std::string&, const std::string&, int) {
    if (message == "Extractor pause status 1\n" && notices++ == 0) {
      ektest::eventually([&] { return !detector->isProcessing(); }, 300);
    }
  });
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
