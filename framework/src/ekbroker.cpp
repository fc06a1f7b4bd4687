#include <ekcommon/ekbroker.h>

#include <algorithm>
#include <map>
#include <mutex>

#include <boost/weak_ptr.hpp>

#include <ekcommon/ekmodulecore.h>
#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>

#include "ektaskrunner.h"

namespace EK {

struct EKBroker::Impl {
  struct Entry {
    boost::weak_ptr<EKModuleCore> module;
    // Identifies the entry even while the module is being destroyed and the weak
    // reference has already expired.
    const EKModuleCore* address;
  };

  std::string name;
  mutable std::mutex mutex;
  std::map<std::string, Entry> modules;
  detail::EKTaskRunner tasks;
};

EKBroker::EKBroker(const std::string& name) : impl_(new Impl) {
  impl_->name = name;
}

EKBroker::~EKBroker() {
  impl_->tasks.joinAll();
}

const std::string& EKBroker::getName() const noexcept {
  return impl_->name;
}

void EKBroker::registerModule(const boost::shared_ptr<EKModuleCore>& module) {
  if (!module) {
    throw EKERROR("EKBroker", "registerModule", "cannot register a null module");
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto found = impl_->modules.find(module->getName());
  if (found != impl_->modules.end() && !found->second.module.expired()) {
    throw EKERROR(
        "EKBroker", "registerModule",
        "a module named \"" + module->getName() + "\" is already registered with " + impl_->name);
  }
  impl_->modules[module->getName()] = Impl::Entry{module, module.get()};
}

bool EKBroker::unregisterModule(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->modules.erase(name) != 0;
}

bool EKBroker::unregisterModule(const EKModuleCore& module) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto found = impl_->modules.find(module.getName());
  if (found == impl_->modules.end() || found->second.address != &module) {
    return false;
  }
  impl_->modules.erase(found);
  return true;
}

boost::shared_ptr<EKModuleCore> EKBroker::getModule(const std::string& name) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto found = impl_->modules.find(name);
  return found == impl_->modules.end() ? boost::shared_ptr<EKModuleCore>()
                                       : found->second.module.lock();
}

std::vector<std::string> EKBroker::getModuleNames() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<std::string> names;
  for (const auto& entry : impl_->modules) {
    if (!entry.second.module.expired()) {
      names.push_back(entry.first);
    }
  }
  return names;
}

boost::shared_ptr<EKProxy> EKBroker::getProxy(const std::string& name, int /*flags*/) {
  boost::shared_ptr<EKModuleCore> module = getModule(name);
  if (!module) {
    throw EKERROR("EKBroker", "getProxy",
                  "no module named \"" + name + "\" is registered with " + impl_->name);
  }
  boost::shared_ptr<EKBroker> self = module->getParentBroker();
  return boost::shared_ptr<EKProxy>(new EKProxy(self, module));
}

void EKBroker::addTask(const std::string& key, std::unique_ptr<detail::EKTask> task) {
  if (!task) {
    throw EKERROR("EKBroker", "addTask", "cannot run a null task");
  }
  impl_->tasks.add(key, std::move(task));
}

bool EKBroker::waitForTask(int taskId, int timeoutMs) {
  return impl_->tasks.wait(taskId, timeoutMs);
}

bool EKBroker::isTaskRunning(int taskId) const {
  return impl_->tasks.isRunning(taskId);
}

void EKBroker::interruptTask(int taskId) {
  impl_->tasks.interrupt(taskId);
}

std::size_t EKBroker::getStartedTaskCount() const {
  return impl_->tasks.startedCount();
}

void EKBroker::joinTasks() {
  impl_->tasks.joinAll();
}

}  // namespace EK
