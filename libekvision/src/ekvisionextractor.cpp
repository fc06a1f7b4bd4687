#include <ekvision/ekvisionextractor.h>

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekcompleteandcheck.h>
#include <ekcommon/ekfunctor.h>
#include <ekcommon/ekproxy.h>

#include "ekvisionextractor_p.h"

namespace EK {
namespace {

const char* const kClassName = "EKVisionExtractor";
const char* const kSetterResult = "True if the update succeeded, False if not";

}  // namespace

EKVisionExtractor::EKVisionExtractor(boost::shared_ptr<EKBroker> broker, const std::string& name,
                                     int resolution, int colorSpace, int frameRate)
    : EKExtractor(broker, name),
      engine(new EKVisionExtractorPrivate(broker, resolution, colorSpace, frameRate, this)) {
  registerMethods();
}

EKVisionExtractor::~EKVisionExtractor() {
  delete engine;
}

void EKVisionExtractor::registerMethods() {
  functionName("setFrameRate", kClassName, "Sets extractor framerate", 0);
  addParam("framerate", "New framerate");
  setReturn("result", kSetterResult);
  completeAndCheck(&EKVisionExtractor::setFrameRate, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::setFrameRate));

  functionName("setResolution", kClassName, "Sets extractor resolution", 0);
  addParam("resolution", "New resolution");
  setReturn("result", kSetterResult);
  completeAndCheck(&EKVisionExtractor::setResolution, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::setResolution));

  functionName("setActiveCamera", kClassName, "Sets extractor active camera", 0);
  addParam("cameraId", "Id of the camera that will become the active camera");
  setReturn("result", kSetterResult);
  completeAndCheck(&EKVisionExtractor::setActiveCamera, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::setActiveCamera));

  functionName("setParameter", kClassName, "DEPRECATED: Sets pause and resolution", 0);
  addParam("paramName", "Name of the parameter to set");
  addParam("value", "New value");
  completeAndCheck(&EKVisionExtractor::setParameter, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::setParameter));

  functionName("getFrameRate", kClassName, "Gets extractor framerate", 0);
  setReturn("framerate", "Current value of the framerate of the extractor");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(3);
  bindMethod(createFunctor(this, &EKVisionExtractor::getFrameRate));

  functionName("getResolution", kClassName, "Gets extractor resolution", 0);
  setReturn("resolution", "Current value of the resolution of the extractor");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(3);
  bindMethod(createFunctor(this, &EKVisionExtractor::getResolution));

  functionName("getActiveCamera", kClassName, "Gets extractor active camera", 0);
  setReturn("cameraId", "Id of the current active camera of the extractor");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(3);
  bindMethod(createFunctor(this, &EKVisionExtractor::getActiveCamera));

  functionName("isPaused", kClassName, "Gets extractor pause status", 0);
  setReturn("paused", "True if the extractor is paused, False if not");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(2);
  bindMethod(createFunctor(this, &EKVisionExtractor::isPaused));

  functionName("isProcessing", kClassName, "Gets extractor running status", 0);
  setReturn("processing", "True if the extractor is currently processing images, False if not");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(2);
  bindMethod(createFunctor(this, &EKVisionExtractor::isProcessing));

  functionName("pause", kClassName, "Changes the pause status of the extractor", 0);
  addParam("paused", "New pause satus");
  completeAndCheck(&EKVisionExtractor::pause, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::pause));

  functionName("_run", kClassName, "", 0);
  getCurrentMethodDescription().returnValue.typeName = getTypeString(1);
  bindMethod(createFunctor(this, &EKVisionExtractor::xRun));
}

void EKVisionExtractor::pause(const bool& paused) {
  engine->pause(paused);
}

void EKVisionExtractor::setParameter(const std::string& paramName, const EKValue& value) {
  engine->setParameter(paramName, value);
}

bool EKVisionExtractor::isProcessing() {
  return engine->isProcessing();
}

bool EKVisionExtractor::isPaused() {
  return engine->isPaused();
}

int EKVisionExtractor::getActiveCamera() {
  return engine->getActiveCamera();
}

int EKVisionExtractor::getResolution() {
  return engine->getResolution();
}

int EKVisionExtractor::getFrameRate() {
  return engine->getFrameRate();
}

int EKVisionExtractor::getColorSpace() {
  return engine->getColorSpace();
}

bool EKVisionExtractor::setActiveCamera(const int& cameraId) {
  return engine->setActiveCamera(cameraId);
}

bool EKVisionExtractor::setResolution(const int& resolution) {
  return engine->setResolution(resolution);
}

bool EKVisionExtractor::setFrameRate(const int& frameRate) {
  return engine->setFrameRate(frameRate);
}

bool EKVisionExtractor::setColorSpace(const int& colorSpace) {
  return engine->setColorSpace(colorSpace);
}

void EKVisionExtractor::xRun() {
  engine->run();
}

void EKVisionExtractor::xStartDetection(int /*period*/, float /*precision*/) {
  onStartDetection();
  boost::shared_ptr<EKProxy> self = getParentBroker()->getProxy(getName(), 0);
  // Taken before the launch: the loop may get through its first frame, and even end,
  // before this thread begins to wait.
  const unsigned ticket = engine->readyTicket();
  self->pCall("_run");
  engine->waitUntilReady(ticket);
}

void EKVisionExtractor::xUpdateParameters(int /*period*/, float /*precision*/) {}

void EKVisionExtractor::xStopDetection() {
  engine->stop();
  onStopDetection();
}

}  // namespace EK
