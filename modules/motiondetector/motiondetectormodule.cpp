#include "motiondetectormodule.h"

#include <utility>

#include <ekcommon/ekfunctor.h>
#include <ekvision/ekimage.h>

namespace ekmotion {
namespace {

const char* const kClassName = "MotionDetector";

}  // namespace

EK::EKDetection toEKDetection(const MovingObject& object, long long timeStamp) {
  EK::EKDetection result;
  result.timeStamp = timeStamp;
  result.found = true;
  result.pixelCount = object.changedPixels;
  result.x = object.box.x;
  result.y = object.box.y;
  result.w = object.box.w;
  result.h = object.box.h;
  result.leftAngle = object.box.leftAngle;
  result.topAngle = object.box.topAngle;
  result.rightAngle = object.box.rightAngle;
  result.bottomAngle = object.box.bottomAngle;
  return result;
}

EK::EKDetection toEKDetection(const Detection& detection) {
  if (detection.objects.empty()) {
    EK::EKDetection nothing;
    nothing.timeStamp = detection.timeStamp;
    nothing.pixelCount = detection.changedPixels;
    return nothing;
  }
  return toEKDetection(detection.objects.front(), detection.timeStamp);
}

MotionDetectorModule::MotionDetectorModule(boost::shared_ptr<EK::EKBroker> broker,
                                           const std::string& name, int resolution, int frameRate)
    : EKVisionExtractor(std::move(broker), name, resolution, EK::kColorSpaceYUV422, frameRate) {
  registerMethods();
}

void MotionDetectorModule::registerMethods() {
  functionName("getLastDetection", kClassName, "Result of the last frame processed", 0);
  setReturn("detection",
            "[seconds, microseconds, found, x, y, w, h, left, top, right, bottom, changed]");
  getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(6);
  bindMethod(EK::createFunctor(this, &MotionDetectorModule::getLastDetection));

  functionName("getDetections", kClassName, "Detections since the previous call, oldest first", 0);
  setReturn("detections", "Array of detection arrays");
  getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(6);
  bindMethod(EK::createFunctor(this, &MotionDetectorModule::getDetections));

  functionName("getFrameCount", kClassName, "Frames processed since the module was built", 0);
  setReturn("frames", "Number of frames");
  getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(3);
  bindMethod(EK::createFunctor(this, &MotionDetectorModule::getFrameCount));
}

EK::EKValue MotionDetectorModule::getLastDetection() {
  std::lock_guard<std::mutex> lock(resultsMutex_);
  return last_.toEKValue();
}

EK::EKValue MotionDetectorModule::getDetections() {
  return pending_.take();
}

int MotionDetectorModule::getFrameCount() {
  std::lock_guard<std::mutex> lock(resultsMutex_);
  return frames_;
}

void MotionDetectorModule::onStartDetection() {
  detector_.reset();
}

void MotionDetectorModule::processImage(EK::EKImage* image) {
  const Detection detection = detector_.process(*image);
  {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    ++frames_;
    last_ = toEKDetection(detection);
  }
  for (const MovingObject& object : detection.objects) {
    pending_.push(toEKDetection(object, detection.timeStamp));
  }
}

void MotionDetectorModule::onStopDetection() {}

}  // namespace ekmotion
