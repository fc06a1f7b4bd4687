// A vision module's life with a scripted camera: registration, start handshake, pause,
// stop, restart, destruction, settings and the deprecated parameter setter.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <chrono>

#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKError;
using EK::EKValue;
using ektest::ExtractorFixture;
using ektest::kDeadlineMs;

class VisionExtractorTest : public ExtractorFixture {};

EKValue array(std::initializer_list<int> elements) {
  EKValue value;
  value.arraySetSize(0);
  for (int element : elements) {
    value.arrayPush(EKValue(element));
  }
  return value;
}

struct Expected {
  const char* name;
  const char* description;
  std::vector<std::vector<std::string>> parameters;  // name, description, type
  std::vector<std::string> returned;                 // name, description, type
};

TEST_F(VisionExtractorTest, RegistersItsElevenMethodsExactly) {
  auto detector = makeDetector();
  const std::string setResult = "True if the update succeeded, False if not";
  const std::vector<Expected> expected = {
      {"setFrameRate",
       "Sets extractor framerate",
       {{"framerate", "New framerate", "int"}},
       {"result", setResult, "bool"}},
      {"setResolution",
       "Sets extractor resolution",
       {{"resolution", "New resolution", "int"}},
       {"result", setResult, "bool"}},
      {"setActiveCamera",
       "Sets extractor active camera",
       {{"cameraId", "Id of the camera that will become the active camera", "int"}},
       {"result", setResult, "bool"}},
      {"setParameter",
       "DEPRECATED: Sets pause and resolution",
       {{"paramName", "Name of the parameter to set", "std::string"},
        {"value", "New value", "EKValue"}},
       {"", "", "void"}},
      {"getFrameRate",
       "Gets extractor framerate",
       {},
       {"framerate", "Current value of the framerate of the extractor", "int"}},
      {"getResolution",
       "Gets extractor resolution",
       {},
       {"resolution", "Current value of the resolution of the extractor", "int"}},
      {"getActiveCamera",
       "Gets extractor active camera",
       {},
       {"cameraId", "Id of the current active camera of the extractor", "int"}},
      {"isPaused",
       "Gets extractor pause status",
       {},
       {"paused", "True if the extractor is paused, False if not", "bool"}},
      {"isProcessing",
       "Gets extractor running status",
       {},
       {"processing", "True if the extractor is currently processing images, False if not",
        "bool"}},
      {"pause",
       "Changes the pause status of the extractor",
       {{"paused", "New pause satus", "bool"}},
       {"", "", "void"}},
      {"_run", "", {}, {"", "", "void"}},
  };
  const std::vector<EK::EKMethodInfo> methods = detector->getMethodInfos();
  ASSERT_EQ(methods.size(), expected.size());
  for (std::size_t i = 0; i < methods.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(methods[i].methodName, expected[i].name);
    EXPECT_EQ(methods[i].className, "EKVisionExtractor");
    EXPECT_EQ(methods[i].description, expected[i].description);
    ASSERT_EQ(methods[i].parameters.size(), expected[i].parameters.size());
    for (std::size_t p = 0; p < methods[i].parameters.size(); ++p) {
      EXPECT_EQ(methods[i].parameters[p].name, expected[i].parameters[p][0]);
      EXPECT_EQ(methods[i].parameters[p].description, expected[i].parameters[p][1]);
      EXPECT_EQ(methods[i].parameters[p].typeName, expected[i].parameters[p][2]);
    }
    EXPECT_EQ(methods[i].returnValue.name, expected[i].returned[0]);
    EXPECT_EQ(methods[i].returnValue.description, expected[i].returned[1]);
    EXPECT_EQ(methods[i].returnValue.typeName, expected[i].returned[2]);
  }
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
  EXPECT_TRUE(camera->getSubscribers().empty()) << "construction does not subscribe";
}

TEST_F(VisionExtractorTest, StartReturnsAfterTheFirstFrameAndItsPacing) {
  auto detector = makeDetector(15);
  const auto called = std::chrono::steady_clock::now();
  detector->subscribe("client", 100, 0.0f);
  const auto returned = std::chrono::steady_clock::now();
  EXPECT_EQ(detector->starts.load(), 1);
  EXPECT_GE(detector->images(), 1);
  EXPECT_TRUE(detector->isProcessing());
  // At 15 frames per second the period is 66.7 ms, counted from just before the first
  // image request; the starter waits it out. Without the pacing it would return at once.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(returned - called).count(), 65);
  EXPECT_EQ(camera->getSubscribers(), std::vector<std::string>{kCameraId});
  EXPECT_EQ(camera->getFrameRate(kCameraId), 15);
  ASSERT_TRUE(detector->waitForImages(3)) << "the loop does not go on";
  detector->unsubscribe("client");
  EXPECT_EQ(detector->stops.load(), 1);
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_EQ(camera->getHeldImages(kCameraId), 0) << "every image was released";
}

TEST_F(VisionExtractorTest, PauseTakesEffectAtTheNextFrameAndResumeWakesTheLoop) {
  auto detector = makeDetector();
  detector->onImage = [&detector](int count) {
    if (count == 3) {
      detector->pause(true);  // safe from the hook
    }
  };
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(3));
  EXPECT_TRUE(detector->isPaused());
  EXPECT_FALSE(detector->waitForImages(4, 150)) << "a paused loop fetched an image";
  EXPECT_EQ(cameraCalls(EKCameraCall::kGetImage), 3);
  detector->pause(false);
  EXPECT_FALSE(detector->isPaused());
  ASSERT_TRUE(detector->waitForImages(5)) << "resuming did not wake the loop";
  detector->unsubscribe("client");
  EXPECT_TRUE(logged(4, "pause", "Extractor pause status 1\n"));
  EXPECT_TRUE(logged(4, "pause", "Extractor pause status 0\n"));
}

TEST_F(VisionExtractorTest, StoppingAPausedLoopTakesExactlyOneMoreImage) {
  auto detector = makeDetector();
  detector->onImage = [&detector](int count) {
    if (count == 2) {
      detector->pause(true);
    }
  };
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(2));
  EXPECT_FALSE(detector->waitForImages(3, 50));
  detector->unsubscribe("client");
  EXPECT_EQ(detector->images(), 3);
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
  EXPECT_EQ(detector->stops.load(), 1);
}

TEST_F(VisionExtractorTest, RestartReusesTheSubscriptionAndDestructionEndsItOnce) {
  auto detector = makeDetector();
  for (int run = 1; run <= 3; ++run) {
    detector->subscribe("client", 100, 0.0f);
    ASSERT_TRUE(detector->waitForImages(2 * run));
    detector->unsubscribe("client");
    EXPECT_FALSE(detector->isProcessing());
  }
  EXPECT_EQ(detector->starts.load(), 3);
  EXPECT_EQ(detector->stops.load(), 3);
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 0) << "stopping keeps the subscription";
  const std::vector<unsigned> sequence = detector->sequence();
  for (std::size_t i = 0; i < sequence.size(); ++i) {
    EXPECT_EQ(sequence[i], i + 1) << "every image reached the hook once, in order";
  }
  broker->joinTasks();  // the ended loop tasks let go of the module
  detector.reset();
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 1);
  EXPECT_TRUE(camera->getSubscribers().empty());
}

TEST_F(VisionExtractorTest, NeverStartedModuleNeverTalksToTheCamera) {
  makeDetector().reset();
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 0);
  EXPECT_EQ(cameraCalls(EKCameraCall::kUnsubscribe), 0);
}

TEST_F(VisionExtractorTest, RunWhileRunningAndStartTwiceLogAndLeaveTheLoopAlone) {
  auto detector = makeDetector();
  detector->subscribe("client", 100, 0.0f);
  detector->xRun();  // returns at once
  EXPECT_TRUE(logged(3, "run", "Extractor is already running\n"));
  detector->xStartDetection(100, 0.0f);  // the second _run ends at once, and so does the wait
  EXPECT_EQ(detector->starts.load(), 2);
  EXPECT_TRUE(
      ektest::eventually([this] { return capture.count("Extractor is already running\n") == 2; }));
  const int before = detector->images();
  ASSERT_TRUE(detector->waitForImages(before + 2)) << "the first loop goes on";
  detector->unsubscribe("client");
  EXPECT_FALSE(detector->isProcessing());
}

TEST_F(VisionExtractorTest, PauseOrStopWithoutALoopLogAndChangeNothing) {
  auto detector = makeDetector();
  detector->pause(true);
  EXPECT_FALSE(detector->isPaused());
  EXPECT_TRUE(logged(2, "pause", "Extractor is not running, cannot change pause status.\n"));
  capture.clear();
  detector->xStopDetection();  // returns at once, after the same message
  EXPECT_TRUE(logged(2, "pause", "Extractor is not running, cannot change pause status.\n"));
  EXPECT_EQ(detector->stops.load(), 1) << "the stop hook runs all the same";
}

TEST_F(VisionExtractorTest, SettersSubscribeFirstAndStoreOnlyWhatTheCameraAccepts) {
  auto detector = makeDetector(100, 0);
  EXPECT_TRUE(detector->setFrameRate(30));
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1) << "a setter subscribes first";
  EXPECT_EQ(detector->getFrameRate(), 30);
  EXPECT_FALSE(detector->setFrameRate(0)) << "the camera refuses";
  EXPECT_EQ(detector->getFrameRate(), 30);
  EXPECT_TRUE(detector->setActiveCamera(1));
  EXPECT_FALSE(detector->setActiveCamera(2));
  EXPECT_EQ(detector->getActiveCamera(), 1);
  EXPECT_TRUE(detector->setColorSpace(13));
  EXPECT_EQ(detector->getColorSpace(), 13);
  EXPECT_TRUE(detector->setColorSpace(9));
  // The getters ask the camera, whatever the module stored.
  camera->setResolution(kCameraId, 3);
  EXPECT_EQ(detector->getResolution(), 3);
  EXPECT_TRUE(detector->setResolution(1));
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(1));
  EXPECT_EQ(detector->widths().front(), 320) << "the loop gets the new resolution";
  detector->unsubscribe("client");
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
}

TEST_F(VisionExtractorTest, RemoteMethodsConvertArgumentsAndAnswerTyped) {
  auto detector = makeDetector();
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Detector", 0);
  EXPECT_EQ(proxy->call("setFrameRate", 60), EKValue(true));
  EXPECT_EQ(proxy->call("getFrameRate"), EKValue(60));
  EXPECT_EQ(proxy->call("isProcessing"), EKValue(false));
  try {
    proxy->call("setFrameRate", true);
    FAIL() << "a bool is not a frame rate";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getDescription(), "Parameter type is bool instead of int");
  }
  detector->subscribe("client", 100, 0.0f);
  proxy->call("pause", 7);
  EXPECT_EQ(proxy->call("isPaused"), EKValue(true));
  proxy->call("pause", 0);
  EXPECT_EQ(proxy->call("isPaused"), EKValue(false));
  proxy->call("setParameter", "pause", array({1}));
  EXPECT_TRUE(detector->isPaused());
  detector->unsubscribe("client");
}

TEST_F(VisionExtractorTest, SetParameterHandlesEveryCase) {
  auto detector = makeDetector();
  detector->subscribe("client", 100, 0.0f);
  for (const int resume : {0, 2, -1}) {
    detector->setParameter("pause", array({1}));
    EXPECT_TRUE(detector->isPaused());
    detector->setParameter("pause", array({resume, 1}));  // only element 0 counts
    EXPECT_FALSE(detector->isPaused()) << "pause with " << resume;
  }
  detector->setParameter("resolution", array({2}));
  EXPECT_EQ(camera->getResolution(kCameraId), 2);
  capture.clear();
  detector->setParameter("pause", EKValue(1));
  EXPECT_TRUE(
      logged(2, "setParameter", "Parameter is not valid, parameter must be a valid array.\n"));
  detector->setParameter("pause", EKValue());
  EXPECT_EQ(engineRecords().size(), 2u);
  detector->setParameter("pause", array({}));
  EXPECT_TRUE(logged(2, "setParameter",
                     "Wrong parameter size, parameter must be an array of size 1. Current size "
                     "is 0\n"));
  detector->setParameter("Pause", array({1}));
  EXPECT_TRUE(logged(2, "setParameter",
                     "Unknown parameter value. Parameter must be resolution or pause, but "
                     "current parameter is Pause\n"));
  EXPECT_FALSE(detector->isPaused()) << "a name of another case is not pause";
  EXPECT_EQ(engineRecords().size(), 4u);
  detector->unsubscribe("client");
}

}  // namespace
