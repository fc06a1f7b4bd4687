/// @file
/// A module of the framework: a module core with a life cycle.
#ifndef EKCOMMON_EKMODULE_H
#define EKCOMMON_EKMODULE_H

#include <atomic>
#include <string>
#include <utility>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ekbroker.h>
#include <ekcommon/ekmodulecore.h>

namespace EK {

/// @brief A module: registered with a broker, started by init(), shut down by exit().
class EKFRAMEWORK_API EKModule : public EKModuleCore {
 public:
  /// A module not yet registered (see EK::createModule). @throws EKError as EKModuleCore does
  EKModule(boost::shared_ptr<EKBroker> broker, const std::string& name);
  /// Leaves the broker's list, as exit() does.
  ~EKModule() override;

  /// @brief Shuts the module down: it leaves its broker and hasExited() becomes true.
  ///
  /// Safe from any thread, any number of times, also from inside the module's own methods
  /// and while it is being built; the object itself stays alive for those who hold it.
  virtual void exit();
  /// A short text page describing the module's state.
  virtual std::string httpGet();
  /// Called once the module is built and registered; false makes EK::createModule exit it.
  virtual bool init();
  /// @brief Asks the task @p taskId of this module's broker to stop.
  ///
  /// The task's thread is interrupted: its next wait on a Boost condition ends with
  /// boost::thread_interrupted. Unknown or finished tasks are ignored.
  virtual void stop(const int& taskId);

  /// Whether exit() was called.
  bool hasExited() const noexcept { return exited_.load(); }

 private:
  std::atomic<bool> exited_{false};
};

/// @brief Builds a module of type T with (broker, args...), registers it and calls init().
///
/// A module that exited while it was being built is returned without being registered;
/// one whose init() answers false is exited.
/// @throws EKError when a module of that name is already registered
template <typename T, typename... Args>
boost::shared_ptr<T> createModule(const boost::shared_ptr<EKBroker>& broker, Args&&... args) {
  boost::shared_ptr<T> module = boost::make_shared<T>(broker, std::forward<Args>(args)...);
  if (module->hasExited()) {
    return module;
  }
  broker->registerModule(module);
  if (!module->init()) {
    module->exit();
  }
  return module;
}

}  // namespace EK

#endif  // EKCOMMON_EKMODULE_H
