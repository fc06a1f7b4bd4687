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

// A remote setter: takes an int and answers whether the camera accepted it.
struct Setter {
  const char* name;
  const char* description;
  const char* parameter;
  const char* parameterDescription;
  bool (EKVisionExtractor::*method)(const int&);
};

// A remote getter: takes nothing and answers a Result.
template <class Result>
struct Getter {
  const char* name;
  const char* description;
  const char* result;
  const char* resultDescription;
  Result (EKVisionExtractor::*method)();
};

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
  const Setter setters[] = {
      {"setFrameRate", "Sets extractor framerate", "framerate", "New framerate",
       &EKVisionExtractor::setFrameRate},
      {"setResolution", "Sets extractor resolution", "resolution", "New resolution",
       &EKVisionExtractor::setResolution},
      {"setActiveCamera", "Sets extractor active camera", "cameraId",
       "Id of the camera that will become the active camera", &EKVisionExtractor::setActiveCamera},
  };
  for (const Setter& setter : setters) {
    functionName(setter.name, kClassName, setter.description, 0);
    addParam(setter.parameter, setter.parameterDescription);
    setReturn("result", kSetterResult);
    completeAndCheck(setter.method, getCurrentMethodDescription());
    bindMethod(createFunctor(this, setter.method));
  }

  functionName("setParameter", kClassName, "DEPRECATED: Sets pause and resolution", 0);
  addParam("paramName", "Name of the parameter to set");
  addParam("value", "New value");
  completeAndCheck(&EKVisionExtractor::setParameter, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVisionExtractor::setParameter));

  // The getters' result type is named by its EKValue type code.
  const auto bindGetters = [this](const auto& getters, int resultType) {
    for (const auto& getter : getters) {
      functionName(getter.name, kClassName, getter.description, 0);
      setReturn(getter.result, getter.resultDescription);
      getCurrentMethodDescription().returnValue.typeName = getTypeString(resultType);
      bindMethod(createFunctor(this, getter.method));
    }
  };
  const Getter<int> intGetters[] = {
      {"getFrameRate", "Gets extractor framerate", "framerate",
       "Current value of the framerate of the extractor", &EKVisionExtractor::getFrameRate},
      {"getResolution", "Gets extractor resolution", "resolution",
       "Current value of the resolution of the extractor", &EKVisionExtractor::getResolution},
      {"getActiveCamera", "Gets extractor active camera", "cameraId",
       "Id of the current active camera of the extractor", &EKVisionExtractor::getActiveCamera},
  };
  bindGetters(intGetters, 3);
  const Getter<bool> statusGetters[] = {
      {"isPaused", "Gets extractor pause status", "paused",
       "True if the extractor is paused, False if not", &EKVisionExtractor::isPaused},
      {"isProcessing", "Gets extractor running status", "processing",
       "True if the extractor is currently processing images, False if not",
       &EKVisionExtractor::isProcessing},
  };
  bindGetters(statusGetters, 2);

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
