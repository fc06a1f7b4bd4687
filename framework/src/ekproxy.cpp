#include <ekcommon/ekproxy.h>

#include <memory>

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekmodulecore.h>

namespace EK {

EKProxy::EKProxy(boost::shared_ptr<EKBroker> broker, const boost::shared_ptr<EKModuleCore>& module)
    : broker_(std::move(broker)), module_(module) {
  if (!broker_ || !module) {
    throw EKERROR("EKProxy", "EKProxy", "a proxy needs a broker and a module");
  }
  moduleName_ = module->getName();
}

EKProxy::~EKProxy() = default;

void EKProxy::execute(const std::string& name, const EKValue& arguments, EKValue& result) {
  getModuleCore()->execute(name, arguments, result);
}

void EKProxy::PCALL_METHODS(const std::string& name, const EKValue& /*arguments*/,
                            EKValue& /*result*/) {
  throw EKERROR("EKProxy", "PCALL_METHODS",
                "cannot call " + moduleName_ + "." + name +
                    " remotely: every module of this framework lives in this process");
}

int EKProxy::xPCallScript(const std::string& name, const EKValue& /*arguments*/) {
  throw EKERROR("EKProxy", "xPCallScript",
                "cannot call " + moduleName_ + "." + name +
                    " as a script: this framework has no script modules");
}

boost::shared_ptr<const EKMethodInfo> EKProxy::xLookupMethod(const std::string& name) const {
  return getModuleCore()->getMethod(name);
}

boost::shared_ptr<detail::EKTaskInfo> EKProxy::xCreateTaskInfo(const std::string& name) const {
  return boost::shared_ptr<detail::EKTaskInfo>(new detail::EKTaskInfo(moduleName_, name));
}

boost::shared_ptr<EKModuleCore> EKProxy::getModuleCore() const {
  boost::shared_ptr<EKModuleCore> module = module_.lock();
  if (!module) {
    throw EKERROR("EKProxy", "getModuleCore", "module " + moduleName_ + " no longer exists");
  }
  return module;
}

void EKProxy::xAddTask(const std::string& key, detail::EKTask* task) {
  std::unique_ptr<detail::EKTask> owned(task);
  broker_->addTask(key, std::move(owned));
}

}  // namespace EK
