// Concurrency: control threads against a loop that starts and stops, and a stop that
// arrives during the first frame.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKValue;
using ektest::ExtractorFixture;
using ektest::kDeadlineMs;

class VisionExtractorStressTest : public ExtractorFixture {};

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
  const auto breather = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  std::vector<std::thread> controls;
  controls.emplace_back([&] {
    while (!done) {
      detector->pause(true);
      detector->pause(false);
      detector->setParameter("pause", one);
      detector->pause(false);
      ++controlCalls;
      breather();
    }
  });
  controls.emplace_back([&] {
    for (int i = 0; !done; ++i) {
      EXPECT_TRUE(detector->setFrameRate(i % 2 == 0 ? 120 : 100));
      EXPECT_TRUE(detector->setResolution(i % 2));
      EXPECT_FALSE(detector->setActiveCamera(5));
      ++controlCalls;
      breather();
    }
  });
  controls.emplace_back([&] {
    while (!done) {
      detector->isProcessing();
      detector->isPaused();
      EXPECT_GE(detector->getFrameRate(), 100);
      EXPECT_LE(detector->getResolution(), 1);
      ++controlCalls;
      breather();
    }
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
  ASSERT_TRUE(broker->waitForTask(task, kDeadlineMs)) << "the interrupted loop did not end";
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
  EXPECT_EQ(detector->images(), 1);
  EXPECT_EQ(capture.count("Task Detector._run#" + std::to_string(task) + " was interrupted\n"), 1u);
  detector->subscribe("client", 100, 0.0f);  // and the module starts again
  EXPECT_TRUE(detector->isProcessing());
  detector->unsubscribe("client");
}

}  // namespace
