#include <ekcommon/ekmodule.h>

#include <sstream>

namespace EK {

EKModule::EKModule(boost::shared_ptr<EKBroker> broker, const std::string& name)
    : EKModuleCore(std::move(broker), name) {}

EKModule::~EKModule() = default;

void EKModule::exit() {
  // The broker holds only a weak reference, so leaving it never destroys the module under
  // the feet of the thread that called exit() from inside it.
  exited_.store(true);
  getParentBroker()->unregisterModule(*this);
}

std::string EKModule::httpGet() {
  std::ostringstream page;
  page << "module " << getName() << " version " << version() << (hasExited() ? " (exited)" : "")
       << "\n";
  for (const EKMethodInfo& method : getMethodInfos()) {
    page << "  " << method.methodName << ": " << method.description << "\n";
  }
  return page.str();
}

bool EKModule::init() {
  return true;
}

void EKModule::stop(const int& taskId) {
  getParentBroker()->interruptTask(taskId);
}

}  // namespace EK
