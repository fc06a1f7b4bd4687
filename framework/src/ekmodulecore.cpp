#include <ekcommon/ekmodulecore.h>

#include <map>
#include <mutex>
#include <optional>

#include <ekcommon/ekbroker.h>
#include <ekerror/ekerror.h>

namespace EK {

struct EKModuleCore::Impl {
  std::string name;
  boost::shared_ptr<EKBroker> broker;
  mutable std::mutex mutex;
  // The description being registered; only the registering thread touches it.
  std::optional<EKMethodInfo> open;
  std::vector<boost::shared_ptr<const EKMethodInfo>> ordered;
  std::map<std::string, boost::shared_ptr<const EKMethodInfo>> byName;

  EKMethodInfo& requireOpen(const char* operation) {
    if (!open) {
      throw EKERROR(name, operation, "no method description is open: call functionName first");
    }
    return *open;
  }
};

EKModuleCore::EKModuleCore(boost::shared_ptr<EKBroker> broker, const std::string& name)
    : impl_(new Impl) {
  if (!broker) {
    throw EKERROR("EKModuleCore", "EKModuleCore", "module \"" + name + "\" needs a broker");
  }
  if (name.empty()) {
    throw EKERROR("EKModuleCore", "EKModuleCore", "a module needs a name");
  }
  impl_->name = name;
  impl_->broker = std::move(broker);
}

EKModuleCore::~EKModuleCore() {
  impl_->broker->unregisterModule(*this);
}

void EKModuleCore::execute(const std::string& methodName, const EKValue& arguments,
                           EKValue& result) {
  boost::shared_ptr<const EKMethodInfo> method = getMethod(methodName);
  if (!method) {
    throw EKERROR(impl_->name, "execute",
                  "Function " + methodName + " does not exist in module " + impl_->name);
  }
  // Outside the table's lock: a method may run for as long as it likes.
  method->functor->call(arguments, result);
}

std::string EKModuleCore::version() {
  return "1.0.0";
}

const std::string& EKModuleCore::getName() const noexcept {
  return impl_->name;
}

boost::shared_ptr<EKBroker> EKModuleCore::getParentBroker() const {
  return impl_->broker;
}

void EKModuleCore::functionName(const std::string& name, const std::string& className,
                                const std::string& description, int flags) {
  EKMethodInfo info;
  info.methodName = name;
  info.className = className;
  info.description = description;
  info.flags = flags;
  impl_->open = std::move(info);
}

void EKModuleCore::addParam(const std::string& name, const std::string& description) {
  EKMethodInfo::EKParameterInfo parameter;
  parameter.name = name;
  parameter.description = description;
  impl_->requireOpen("addParam").parameters.push_back(parameter);
}

void EKModuleCore::setReturn(const std::string& name, const std::string& description) {
  EKMethodInfo& open = impl_->requireOpen("setReturn");
  open.returnValue.name = name;
  open.returnValue.description = description;
}

EKMethodInfo& EKModuleCore::getCurrentMethodDescription() {
  return impl_->requireOpen("getCurrentMethodDescription");
}

void EKModuleCore::bindMethod(boost::shared_ptr<EKFunctorBase> functor) {
  EKMethodInfo& open = impl_->requireOpen("bindMethod");
  if (!functor) {
    throw EKERROR(impl_->name, "bindMethod", "null functor for method " + open.methodName);
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->byName.count(open.methodName) != 0) {
    throw EKERROR(impl_->name, "bindMethod", "method " + open.methodName + " is already bound");
  }
  open.functor = std::move(functor);
  boost::shared_ptr<const EKMethodInfo> bound(new EKMethodInfo(std::move(open)));
  impl_->open.reset();
  impl_->byName[bound->methodName] = bound;
  impl_->ordered.push_back(bound);
}

boost::shared_ptr<const EKMethodInfo> EKModuleCore::getMethod(const std::string& name) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto found = impl_->byName.find(name);
  return found == impl_->byName.end() ? boost::shared_ptr<const EKMethodInfo>() : found->second;
}

std::vector<EKMethodInfo> EKModuleCore::getMethodInfos() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<EKMethodInfo> infos;
  infos.reserve(impl_->ordered.size());
  for (const auto& method : impl_->ordered) {
    infos.push_back(*method);
  }
  return infos;
}

}  // namespace EK
