// A vision module's life with a scripted camera (registration, start, pause, stop, restart,
// settings, destruction) and the races of a control call with the loop's start or end.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>
#include <ru/log.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKError;
using EK::EKValue;

class VisionExtractorTest : public ektest::ExtractorFixture {};

// Replaces the log handler for the scope of the object.
struct ScopedLogHandler {
  explicit ScopedLogHandler(ru::log::Handler handler) : previous(ru::log::setHandler(handler)) {}
  ~ScopedLogHandler() { ru::log::setHandler(previous); }
  ru::log::Handler previous;
};

EKValue array(std::initializer_list<int> elements) {
  EKValue value;
  value.arraySetSize(0);
  for (int element : elements) {
    value.arrayPush(EKValue(element));
  }
  return value;
}

// A remote method as its callers see it: "bool setFrameRate(int framerate) -> result".
std::string signature(const EK::EKMethodInfo& method) {
  std::string text = method.returnValue.typeName + " " + method.methodName + "(";
  for (const auto& parameter : method.parameters) {
    text += (text.back() == '(' ? "" : ", ") + parameter.typeName + " " + parameter.name;
  }
  return text + ") -> " + method.returnValue.name;
}

TEST_F(VisionExtractorTest, RegistersItsElevenMethods) {
  auto detector = makeDetector();
  const std::vector<std::string> expected = {
      "bool setFrameRate(int framerate) -> result",
      "bool setResolution(int resolution) -> result",
      "bool setActiveCamera(int cameraId) -> result",
      "void setParameter(std::string paramName, EKValue value) -> ",
      "int getFrameRate() -> framerate",
      "int getResolution() -> resolution",
      "int getActiveCamera() -> cameraId",
      "bool isPaused() -> paused",
      "bool isProcessing() -> processing",
      "void pause(bool paused) -> ",
      "void _run() -> ",
  };
  std::vector<std::string> registered;
  for (const EK::EKMethodInfo& method : detector->getMethodInfos()) {
    EXPECT_EQ(method.className, "EKVisionExtractor");
    registered.push_back(signature(method));
  }
  EXPECT_EQ(registered, expected);
  EXPECT_EQ(detector->getMethodInfos()[0].description, "Sets extractor framerate");
  EXPECT_TRUE(camera->getSubscribers().empty()) << "construction does not subscribe";
}

TEST_F(VisionExtractorTest, PauseTakesEffectAtTheNextFrameAndAStopTakesOneMoreImage) {
  auto detector = makeDetector();
  detector->onImage = [&detector](int count) {
    if (count == 3 || count == 6) {
      detector->pause(true);  // safe from the hook
    }
  };
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(3));
  EXPECT_TRUE(detector->isPaused());
  EXPECT_FALSE(detector->waitForImages(4, 150)) << "a paused loop fetched an image";
  EXPECT_EQ(cameraCalls(EKCameraCall::kGetImage), 3);
  detector->pause(false);
  ASSERT_TRUE(detector->waitForImages(6)) << "resuming did not wake the loop";
  EXPECT_FALSE(detector->waitForImages(7, 50));  // the loop waits in its pause again
  detector->unsubscribe("client");  // the paused loop takes exactly one more image, then ends
  EXPECT_EQ(detector->images(), 7);
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
  EXPECT_EQ(detector->stops.load(), 1);
  EXPECT_TRUE(logged(4, "pause", "Extractor pause status 1\n"));
  EXPECT_TRUE(logged(4, "pause", "Extractor pause status 0\n"));
}

TEST_F(VisionExtractorTest, StartWaitsForTheFirstFrameAndARestartReusesTheSubscription) {
  makeDetector().reset();
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe) + cameraCalls(EKCameraCall::kUnsubscribe), 0)
      << "a module never started never talks to the camera";
  auto detector = makeDetector(15);
  for (int run = 1; run <= 2; ++run) {
    detector->subscribe("client", 100, 0.0f);
    EXPECT_EQ(detector->starts.load(), run);
    EXPECT_GE(detector->images(), 2 * run - 1);
    EXPECT_TRUE(detector->isProcessing());
    ASSERT_TRUE(detector->waitForImages(2 * run)) << "the loop does not go on";
    detector->unsubscribe("client");
    EXPECT_EQ(detector->stops.load(), run);
    EXPECT_FALSE(detector->isProcessing());
    EXPECT_EQ(camera->getHeldImages(kCameraId), 0) << "every image was released";
  }
  EXPECT_EQ(camera->getFrameRate(kCameraId), 15);
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 0) << "stopping keeps the subscription";
  broker->joinTasks();  // the ended loop tasks let go of the module
  detector.reset();
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 1);
  EXPECT_TRUE(camera->getSubscribers().empty());
}

TEST_F(VisionExtractorTest, CallsThatFindTheLoopInAnotherStateLogAndLeaveItAlone) {
  auto detector = makeDetector(120);
  detector->xStopDetection();  // returns at once, after the pause's refusal
  EXPECT_TRUE(logged(2, "pause", "Extractor is not running, cannot change pause status.\n"));
  EXPECT_EQ(detector->stops.load(), 1) << "the stop hook runs all the same";
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(3)) << "the earlier stop does not end a later loop";
  detector->xStartDetection(100, 0.0f);  // the second _run ends at once, and so does the wait
  EXPECT_EQ(detector->starts.load(), 2);
  EXPECT_TRUE(
      ektest::eventually([this] { return logged(3, "run", "Extractor is already running\n"); }));
  const int before = detector->images();
  ASSERT_TRUE(detector->waitForImages(before + 2)) << "the first loop goes on";
  detector->unsubscribe("client");
  EXPECT_FALSE(detector->isProcessing());
}

TEST_F(VisionExtractorTest, SettersSubscribeFirstAndStoreOnlyWhatTheCameraAccepts) {
  auto detector = makeDetector();
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Detector", 0);
  EXPECT_EQ(proxy->call("setFrameRate", 30), EKValue(true));
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1) << "a setter subscribes first";
  EXPECT_EQ(proxy->call("getFrameRate"), EKValue(30));
  EXPECT_FALSE(detector->setFrameRate(0)) << "the camera refuses";
  source->failNext(EKCameraCall::kSetParameter);
  EXPECT_THROW(detector->setFrameRate(20), EKError) << "camera errors reach the caller";
  EXPECT_EQ(detector->getFrameRate(), 30);
  source->failNext(EKCameraCall::kGetParameter);
  EXPECT_THROW(detector->getResolution(), EKError);
  EXPECT_TRUE(engineRecords().empty()) << "setter and getter errors are not logged";
  EXPECT_TRUE(detector->setActiveCamera(1));
  EXPECT_FALSE(detector->setActiveCamera(2));
  EXPECT_EQ(detector->getActiveCamera(), 1);
  EXPECT_TRUE(detector->setColorSpace(13));
  EXPECT_EQ(detector->getColorSpace(), 13);
  camera->setResolution(kCameraId, 3);  // the getters ask the camera, whatever was stored
  EXPECT_EQ(detector->getResolution(), 3);
  EXPECT_TRUE(detector->setResolution(1));
  EXPECT_EQ(camera->getResolution(kCameraId), 1) << "the camera, which makes the images, has it";
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
}

TEST_F(VisionExtractorTest, SetParameterHandlesEveryCase) {
  auto detector = makeDetector();
  detector->subscribe("client", 100, 0.0f);
  for (const int resume : {0, 2, -1}) {
    broker->getProxy("Detector", 0)->call("setParameter", "pause", array({1}));
    EXPECT_TRUE(detector->isPaused());
    detector->setParameter("pause", array({resume, 1}));  // only element 0 counts
    EXPECT_FALSE(detector->isPaused()) << "pause with " << resume;
  }
  detector->setParameter("resolution", array({2}));
  EXPECT_EQ(camera->getResolution(kCameraId), 2);
  const std::string invalid = "Parameter is not valid, parameter must be a valid array.\n";
  const std::tuple<std::string, EKValue, std::string> refused[] = {
      {"pause", EKValue(1), invalid},
      {"pause", array({}),
       "Wrong parameter size, parameter must be an array of size 1. Current size is 0\n"},
      {"Pause", array({1}),
       "Unknown parameter value. Parameter must be resolution or pause, but current parameter is "
       "Pause\n"},
  };
  for (const auto& [name, value, message] : refused) {
    capture.clear();
    detector->setParameter(name, value);
    EXPECT_TRUE(logged(2, "setParameter", message)) << message;
    EXPECT_EQ(engineRecords().size(), 1u) << message;
    EXPECT_FALSE(detector->isPaused()) << message;
  }
  detector->unsubscribe("client");
}

// A stop while the first frame is processed: the start that waits for that frame returns.
TEST_F(VisionExtractorTest, StartReturnsWhenAStopArrivesDuringTheFirstFrame) {
  auto detector = makeDetector(100);
  std::atomic<bool> inHook{false};
  std::atomic<bool> release{false};
  detector->onImage = [&](int count) {
    if (count == 1) {
      inHook = true;
      ASSERT_TRUE(ektest::eventually([&] { return release.load(); }));
    }
  };
  std::thread starter([&] { detector->subscribe("client", 100, 0.0f); });
  ASSERT_TRUE(ektest::eventually([&] { return inHook.load(); }));
  // Not through unsubscribe: the start holds the transition.
  std::thread stopper([&] { detector->xStopDetection(); });
  // The stopper has cleared the pause (and logged it) just before asking the loop to stop.
  ASSERT_TRUE(ektest::eventually([&] { return capture.count("Extractor pause status 0\n") == 1; }));
  release = true;
  starter.join();  // a start or a stop that never returned would hang the test here
  stopper.join();
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_LE(detector->images(), 2);
}

// A loop that ends by itself on an error is not ordered with pause(): a pause that has seen
// it running must not outlive it.
TEST_F(VisionExtractorTest, PauseThatMeetsTheLoopsEndLeavesNoPauseBehind) {
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
  // for the loop to end, while a second pause that has seen the loop running queues behind it.
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
