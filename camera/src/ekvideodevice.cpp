#include <ekvideodevice/ekvideodevice.h>

#include <ekcommon/ekcompleteandcheck.h>
#include <ekcommon/ekfunctor.h>
#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ru/os.h>

#include "cameradetail.h"

namespace EK {
namespace {

const char* const kClass = "EKVideoDevice";

// subscribe takes four parameters, more than the member-function functors bind.
class SubscribeFunctor : public EKFunctorBase {
 public:
  explicit SubscribeFunctor(EKVideoDevice* device) : device_(device) {}
  void call(const EKValue& arguments, EKValue& result) override {
    const std::string name = detail::converter<std::string>::convertFromEKValue(arguments[0]);
    const int resolution = detail::converter<int>::convertFromEKValue(arguments[1]);
    const int colorSpace = detail::converter<int>::convertFromEKValue(arguments[2]);
    const int frameRate = detail::converter<int>::convertFromEKValue(arguments[3]);
    result = EKValue(device_->subscribe(name, resolution, colorSpace, frameRate));
  }

 private:
  EKVideoDevice* device_;
};

}  // namespace

EKVideoDevice::EKVideoDevice(boost::shared_ptr<EKBroker> broker,
                             std::shared_ptr<EKFrameSource> source)
    : EKModule(std::move(broker), kClass), source_(std::move(source)) {
  if (!source_) {
    throw EKERROR(kClass, kClass, "a camera needs a frame source");
  }
  bindMethods();
}

EKVideoDevice::~EKVideoDevice() = default;

void EKVideoDevice::bindMethods() {
  functionName("subscribe", kClass, "Subscribes to the camera", 0);
  addParam("name", "Wished subscriber name");
  addParam("resolution", "Resolution code");
  addParam("colorSpace", "Color-space code");
  addParam("frameRate", "Frames per second");
  setReturn("id", "Subscriber id to pass to every later call");
  getCurrentMethodDescription().returnValue.typeName = getTypeString(5);
  bindMethod(boost::shared_ptr<EKFunctorBase>(new SubscribeFunctor(this)));

  // The single-subscriber operations, all (id) or (id, value).
  auto describe = [this](const char* name, const char* description, const char* returnName) {
    functionName(name, kClass, description, 0);
    addParam("id", "Subscriber id");
    if (returnName != nullptr) {
      setReturn(returnName, description);
    }
  };
  describe("unsubscribe", "Ends a subscription", nullptr);
  completeAndCheck(&EKVideoDevice::unsubscribe, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVideoDevice::unsubscribe));
  describe("getImageRemote", "Latest image of the subscriber as an image array", "image");
  completeAndCheck(&EKVideoDevice::getImageRemote, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVideoDevice::getImageRemote));
  describe("releaseImage", "Gives back the subscriber's image", "released");
  completeAndCheck(&EKVideoDevice::releaseImage, getCurrentMethodDescription());
  bindMethod(createFunctor(this, &EKVideoDevice::releaseImage));

  using Setter = bool (EKVideoDevice::*)(const std::string&, const int&);
  const std::pair<const char*, Setter> setters[] = {
      {"setResolution", &EKVideoDevice::setResolution},
      {"setColorSpace", &EKVideoDevice::setColorSpace},
      {"setFrameRate", &EKVideoDevice::setFrameRate},
      {"setActiveCamera", &EKVideoDevice::setActiveCamera},
  };
  for (const auto& setter : setters) {
    describe(setter.first, "Changes a setting; true when applied", "applied");
    addParam("value", "New value");
    completeAndCheck(setter.second, getCurrentMethodDescription());
    bindMethod(createFunctor(this, setter.second));
  }
  using Getter = int (EKVideoDevice::*)(const std::string&);
  const std::pair<const char*, Getter> getters[] = {
      {"getResolution", &EKVideoDevice::getResolution},
      {"getColorSpace", &EKVideoDevice::getColorSpace},
      {"getFrameRate", &EKVideoDevice::getFrameRate},
      {"getActiveCamera", &EKVideoDevice::getActiveCamera},
  };
  for (const auto& getter : getters) {
    describe(getter.first, "Reads a setting", "value");
    completeAndCheck(getter.second, getCurrentMethodDescription());
    bindMethod(createFunctor(this, getter.second));
  }
}

EKVideoDevice::Subscriber& EKVideoDevice::find(const std::string& id, const char* method) {
  auto found = subscribers_.find(id);
  if (found == subscribers_.end()) {
    throw EKERROR(kClass, method, "unknown subscriber " + id);
  }
  return found->second;
}

std::string EKVideoDevice::subscribe(const std::string& name, const int& resolution,
                                     const int& colorSpace, const int& frameRate) {
  source_->checkCall(EKCameraCall::kSubscribe);
  if (name.empty()) {
    throw EKERROR(kClass, "subscribe", "a subscriber needs a name");
  }
  if (!isResolutionValid(resolution) || !isColorSpaceValid(colorSpace) ||
      frameRate < kMinFrameRate || frameRate > kMaxFrameRate) {
    throw EKERROR(kClass, "subscribe",
                  "invalid settings for " + name + ": resolution " + std::to_string(resolution) +
                      ", color space " + std::to_string(colorSpace) + ", frame rate " +
                      std::to_string(frameRate));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::string id = name;
  for (int suffix = 2; subscribers_.count(id) != 0; ++suffix) {
    id = name + "_" + std::to_string(suffix);
  }
  subscribers_[id] =
      Subscriber{resolution, colorSpace, frameRate, cameradetail::nowMicroseconds(), 0, 0};
  return id;
}

void EKVideoDevice::unsubscribe(const std::string& id) {
  source_->checkCall(EKCameraCall::kUnsubscribe);
  std::lock_guard<std::mutex> lock(mutex_);
  find(id, "unsubscribe");
  subscribers_.erase(id);
}

EKValue EKVideoDevice::getImageRemote(const std::string& id) {
  source_->checkCall(EKCameraCall::kGetImage);
  EKFrameRequest request;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Subscriber& subscriber = find(id, "getImageRemote");
    const long long period = 1000000LL / subscriber.frameRate;
    const long long since = (cameradetail::nowMicroseconds() - subscriber.anchor) / period;
    request.subscriberId = id;
    setSizeFromResolution(subscriber.resolution, request.width, request.height);
    request.colorSpace = subscriber.colorSpace;
    request.cameraId = activeCamera_;
    request.frameIndex = subscriber.firstFrame + (since > 0 ? since : 0);
    request.timeStamp = subscriber.anchor + (since > 0 ? since : 0) * period;
    request.subscribers = static_cast<int>(subscribers_.size());
    ++subscriber.heldImages;
  }
  // Outside the lock: rendering or reading a picture takes a while.
  try {
    return source_->grab(request);
  } catch (...) {
    dropHeldImage(id);
    throw;
  }
}

bool EKVideoDevice::releaseImage(const std::string& id) {
  source_->checkCall(EKCameraCall::kReleaseImage);
  return dropHeldImage(id);
}

bool EKVideoDevice::dropHeldImage(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = subscribers_.find(id);
  if (found == subscribers_.end() || found->second.heldImages == 0) {
    return false;
  }
  --found->second.heldImages;
  return true;
}

bool EKVideoDevice::changeSetting(const std::string& id, const char* method, bool valid,
                                  const std::function<void(Subscriber&)>& apply) {
  source_->checkCall(EKCameraCall::kSetParameter);
  std::lock_guard<std::mutex> lock(mutex_);
  Subscriber& subscriber = find(id, method);
  if (!valid) {
    return false;
  }
  apply(subscriber);
  return true;
}

int EKVideoDevice::readSetting(const std::string& id, const char* method,
                               const std::function<int(const Subscriber&)>& read) {
  source_->checkCall(EKCameraCall::kGetParameter);
  std::lock_guard<std::mutex> lock(mutex_);
  return read(find(id, method));
}

bool EKVideoDevice::setResolution(const std::string& id, const int& resolution) {
  return changeSetting(id, "setResolution", isResolutionValid(resolution),
                       [&](Subscriber& subscriber) { subscriber.resolution = resolution; });
}

bool EKVideoDevice::setColorSpace(const std::string& id, const int& colorSpace) {
  return changeSetting(id, "setColorSpace", isColorSpaceValid(colorSpace),
                       [&](Subscriber& subscriber) { subscriber.colorSpace = colorSpace; });
}

bool EKVideoDevice::setFrameRate(const std::string& id, const int& frameRate) {
  const bool valid = frameRate >= kMinFrameRate && frameRate <= kMaxFrameRate;
  return changeSetting(id, "setFrameRate", valid, [&](Subscriber& subscriber) {
    // Frames due so far keep their numbers; the new rate counts from now.
    const long long period = 1000000LL / subscriber.frameRate;
    const long long time = cameradetail::nowMicroseconds();
    const long long since = (time - subscriber.anchor) / period;
    subscriber.firstFrame += since > 0 ? since + 1 : 1;
    subscriber.anchor = time;
    subscriber.frameRate = frameRate;
  });
}

bool EKVideoDevice::setActiveCamera(const std::string& id, const int& cameraId) {
  // The active camera is the device's, shared by every subscriber.
  return changeSetting(id, "setActiveCamera", cameraId >= 0 && cameraId < kCameraCount,
                       [&](Subscriber&) { activeCamera_ = cameraId; });
}

int EKVideoDevice::getResolution(const std::string& id) {
  return readSetting(id, "getResolution",
                     [](const Subscriber& subscriber) { return subscriber.resolution; });
}

int EKVideoDevice::getColorSpace(const std::string& id) {
  return readSetting(id, "getColorSpace",
                     [](const Subscriber& subscriber) { return subscriber.colorSpace; });
}

int EKVideoDevice::getFrameRate(const std::string& id) {
  return readSetting(id, "getFrameRate",
                     [](const Subscriber& subscriber) { return subscriber.frameRate; });
}

int EKVideoDevice::getActiveCamera(const std::string& id) {
  return readSetting(id, "getActiveCamera", [this](const Subscriber&) { return activeCamera_; });
}

std::vector<std::string> EKVideoDevice::getSubscribers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> ids;
  for (const auto& entry : subscribers_) {
    ids.push_back(entry.first);
  }
  return ids;
}

int EKVideoDevice::getHeldImages(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = subscribers_.find(id);
  return found == subscribers_.end() ? 0 : found->second.heldImages;
}

}  // namespace EK
