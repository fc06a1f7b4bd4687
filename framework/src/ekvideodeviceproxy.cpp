#include <ekproxies/ekvideodeviceproxy.h>

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>

namespace EK {
namespace {

const char* const kClass = "EKVideoDeviceProxy";

void throwUnexpectedAnswer(const char* method, const EKValue& answer, const char* wanted) {
  throw EKERROR(kClass, method,
                std::string("EKVideoDevice answered a value of kind ") +
                    EKValue::TypeToString(answer.getType()) + " instead of " + wanted);
}

}  // namespace

const char* const EKVideoDeviceProxy::kModuleName = "EKVideoDevice";

EKVideoDeviceProxy::EKVideoDeviceProxy() = default;

EKVideoDeviceProxy::EKVideoDeviceProxy(boost::shared_ptr<EKBroker> broker) {
  if (!broker) {
    throw EKERROR(kClass, kClass, "cannot reach EKVideoDevice without a broker");
  }
  proxy_ = broker->getProxy(kModuleName, 0);
}

template <typename... Args>
EKValue EKVideoDeviceProxy::call(const char* method, const Args&... args) {
  if (!proxy_) {
    throw EKERROR(kClass, method, "the proxy is not connected to EKVideoDevice");
  }
  return proxy_->call(method, args...);
}

bool EKVideoDeviceProxy::callBool(const char* method, const std::string& id, int value) {
  const EKValue answer = call(method, id, value);
  if (!answer.isBool()) {
    throwUnexpectedAnswer(method, answer, "bool");
  }
  return static_cast<bool>(answer);
}

int EKVideoDeviceProxy::callInt(const char* method, const std::string& id) {
  const EKValue answer = call(method, id);
  if (!answer.isInt()) {
    throwUnexpectedAnswer(method, answer, "int");
  }
  return static_cast<int>(answer);
}

std::string EKVideoDeviceProxy::subscribe(const std::string& name, int resolution, int colorSpace,
                                          int frameRate) {
  const EKValue answer = call("subscribe", name, resolution, colorSpace, frameRate);
  if (!answer.isString()) {
    throwUnexpectedAnswer("subscribe", answer, "string");
  }
  return static_cast<const std::string&>(answer);
}

void EKVideoDeviceProxy::unsubscribe(const std::string& id) {
  call("unsubscribe", id);
}

EKValue EKVideoDeviceProxy::getImageRemote(const std::string& id) {
  return call("getImageRemote", id);
}

bool EKVideoDeviceProxy::releaseImage(const std::string& id) {
  const EKValue answer = call("releaseImage", id);
  return answer.isBool() && static_cast<bool>(answer);
}

bool EKVideoDeviceProxy::setResolution(const std::string& id, int resolution) {
  return callBool("setResolution", id, resolution);
}

bool EKVideoDeviceProxy::setColorSpace(const std::string& id, int colorSpace) {
  return callBool("setColorSpace", id, colorSpace);
}

bool EKVideoDeviceProxy::setFrameRate(const std::string& id, int frameRate) {
  return callBool("setFrameRate", id, frameRate);
}

bool EKVideoDeviceProxy::setActiveCamera(const std::string& id, int cameraId) {
  return callBool("setActiveCamera", id, cameraId);
}

int EKVideoDeviceProxy::getResolution(const std::string& id) {
  return callInt("getResolution", id);
}

int EKVideoDeviceProxy::getColorSpace(const std::string& id) {
  return callInt("getColorSpace", id);
}

int EKVideoDeviceProxy::getFrameRate(const std::string& id) {
  return callInt("getFrameRate", id);
}

int EKVideoDeviceProxy::getActiveCamera(const std::string& id) {
  return callInt("getActiveCamera", id);
}

}  // namespace EK
