// A vision module's life with a scripted camera: registration, start handshake, pause,
// stop, restart, destruction, settings and the deprecated parameter setter.
#include <ekvision/ekvisionextractor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>

#include "testextractor.h"

namespace {

using EK::EKCameraCall;
using EK::EKError;
using EK::EKValue;

class VisionExtractorTest : public ektest::ExtractorFixture {};

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
  EXPECT_FALSE(detector->isProcessing());
  EXPECT_FALSE(detector->isPaused());
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
  EXPECT_FALSE(detector->isPaused());
  ASSERT_TRUE(detector->waitForImages(6)) << "resuming did not wake the loop";
  EXPECT_FALSE(detector->waitForImages(7, 50));
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
  for (int run = 1; run <= 3; ++run) {
    const auto called = std::chrono::steady_clock::now();
    detector->subscribe("client", 100, 0.0f);
    const auto returned = std::chrono::steady_clock::now();
    EXPECT_EQ(detector->starts.load(), run);
    EXPECT_GE(detector->images(), 2 * run - 1);
    EXPECT_TRUE(detector->isProcessing());
    // At 15 frames per second the period is 66.7 ms, counted from just before the first
    // image request; the starter waits it out. Without the pacing it would return at once.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(returned - called).count(), 65);
    ASSERT_TRUE(detector->waitForImages(2 * run)) << "the loop does not go on";
    detector->unsubscribe("client");
    EXPECT_EQ(detector->stops.load(), run);
    EXPECT_FALSE(detector->isProcessing());
    EXPECT_EQ(camera->getHeldImages(kCameraId), 0) << "every image was released";
  }
  EXPECT_EQ(camera->getSubscribers(), std::vector<std::string>{kCameraId});
  EXPECT_EQ(camera->getFrameRate(kCameraId), 15);
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

TEST_F(VisionExtractorTest, CallsThatFindTheLoopInAnotherStateLogAndLeaveItAlone) {
  auto detector = makeDetector(120);
  detector->pause(true);
  EXPECT_FALSE(detector->isPaused());
  EXPECT_TRUE(logged(2, "pause", "Extractor is not running, cannot change pause status.\n"));
  capture.clear();
  detector->xStopDetection();  // returns at once, after the same message
  EXPECT_TRUE(logged(2, "pause", "Extractor is not running, cannot change pause status.\n"));
  EXPECT_EQ(detector->stops.load(), 1) << "the stop hook runs all the same";
  detector->subscribe("client", 100, 0.0f);
  ASSERT_TRUE(detector->waitForImages(3)) << "the earlier stop does not end a later loop";
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

TEST_F(VisionExtractorTest, SettersSubscribeFirstAndStoreOnlyWhatTheCameraAccepts) {
  auto detector = makeDetector(100, 0);
  // Remote calls convert their arguments and answer typed values.
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Detector", 0);
  EXPECT_EQ(proxy->call("setFrameRate", 30), EKValue(true));
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1) << "a setter subscribes first";
  EXPECT_EQ(proxy->call("getFrameRate"), EKValue(30));
  EXPECT_EQ(proxy->call("isProcessing"), EKValue(false));
  try {
    proxy->call("setFrameRate", true);
    FAIL() << "a bool is not a frame rate";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getDescription(), "Parameter type is bool instead of int");
  }
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
  EXPECT_TRUE(detector->setColorSpace(9));
  // The getters ask the camera, whatever the module stored.
  camera->setResolution(kCameraId, 3);
  EXPECT_EQ(detector->getResolution(), 3);
  EXPECT_TRUE(detector->setResolution(1));
  EXPECT_EQ(camera->getResolution(kCameraId), 1) << "the camera, which makes the images, has it";
  EXPECT_EQ(cameraCalls(EKCameraCall::kSubscribe), 1);
}

TEST_F(VisionExtractorTest, SetParameterHandlesEveryCase) {
  auto detector = makeDetector();
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Detector", 0);
  detector->subscribe("client", 100, 0.0f);
  proxy->call("pause", 7);
  EXPECT_EQ(proxy->call("isPaused"), EKValue(true));
  proxy->call("pause", 0);
  EXPECT_EQ(proxy->call("isPaused"), EKValue(false));
  for (const int resume : {0, 2, -1}) {
    proxy->call("setParameter", "pause", array({1}));
    EXPECT_TRUE(detector->isPaused());
    detector->setParameter("pause", array({resume, 1}));  // only element 0 counts
    EXPECT_FALSE(detector->isPaused()) << "pause with " << resume;
  }
  detector->setParameter("resolution", array({2}));
  EXPECT_EQ(camera->getResolution(kCameraId), 2);
  const std::string invalid = "Parameter is not valid, parameter must be a valid array.\n";
  const std::tuple<std::string, EKValue, std::string> refused[] = {
      {"pause", EKValue(1), invalid},
      {"pause", EKValue(), invalid},
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

}  // namespace
