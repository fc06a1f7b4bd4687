/// @file
/// A handle on a module through which its methods are called by name.
#ifndef EKCOMMON_EKPROXY_H
#define EKCOMMON_EKPROXY_H

#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ekmethodinfo.h>
#include <ekcommon/ektask.h>
#include <ekcommon/ektaskinfo.h>
#include <ekerror/ekerror.h>
#include <ekvalue/ekvalue.h>

namespace EK {

class EKBroker;
class EKModuleCore;

/// @brief Calls the methods of one module by name, at once or as a task.
///
/// Obtained from EKBroker::getProxy. The proxy does not keep its module alive: once the
/// module is gone every call throws EKError. A proxy may be used by several threads at once.
class EKFRAMEWORK_API EKProxy {
 public:
  /// A proxy to @p module of @p broker; EKBroker::getProxy builds them.
  EKProxy(boost::shared_ptr<EKBroker> broker, const boost::shared_ptr<EKModuleCore>& module);
  /// Leaves the module alone.
  virtual ~EKProxy();

  /// True: every module this framework reaches lives in this process.
  bool isLocal() const noexcept { return true; }
  /// False: there are no script modules here.
  bool isScript() const noexcept { return false; }

  /// @brief Starts the method @p name without arguments as a task and returns its id at once.
  /// @throws EKError (module "EKProxy", method "getMethodInfo") when the module has no such
  ///   method; nothing is started then
  int pCall(const std::string& name);

  /// @brief Executes the method @p name on the calling thread.
  /// @throws EKError for an unknown method or a module that is gone; the method's own
  ///   exceptions pass on
  void execute(const std::string& name, const EKValue& arguments, EKValue& result);

  /// @brief Executes the method @p name with the given arguments and returns its result.
  template <typename... Args>
  EKValue call(const std::string& name, const Args&... args) {
    EKValue arguments;
    arguments.arraySetSize(0);
    (arguments.arrayPush(EKValue(args)), ...);
    EKValue result;
    execute(name, arguments, result);
    return result;
  }

  /// @name Steps of an asynchronous call
  /// @{

  /// Asynchronous call of a module in another process. @throws EKError: there are none here
  void PCALL_METHODS(const std::string& name, const EKValue& arguments, EKValue& result);
  /// Asynchronous call of a script module. @throws EKError: there are none here
  int xPCallScript(const std::string& name, const EKValue& arguments);
  /// The method @p name with its functor, or null when the module has none.
  boost::shared_ptr<const EKMethodInfo> xLookupMethod(const std::string& name) const;
  /// Name of the module the proxy reaches.
  const std::string& xGetModuleName() const noexcept { return moduleName_; }
  /// A new task identity, with the next task id, for the method @p name.
  boost::shared_ptr<detail::EKTaskInfo> xCreateTaskInfo(const std::string& name) const;
  /// The module itself. @throws EKError when it is gone
  boost::shared_ptr<EKModuleCore> getModuleCore() const;
  /// @brief Runs @p task on a task thread of the broker and returns at once.
  ///
  /// Takes ownership of @p task, also when it throws (the task is then deleted unrun).
  void xAddTask(const std::string& key, detail::EKTask* task);
  /// @}

 private:
  boost::shared_ptr<EKBroker> broker_;
  boost::weak_ptr<EKModuleCore> module_;
  std::string moduleName_;
};

inline int EKProxy::pCall(const std::string& name) {
  if (!isLocal()) {
    EKValue arguments;
    EKValue result;
    PCALL_METHODS(name, arguments, result);
    return static_cast<int&>(result);
  }
  if (isScript()) {
    return xPCallScript(name, EKValue());
  }
  boost::shared_ptr<const EKMethodInfo> method = xLookupMethod(name);
  if (!method) {
    throw EKERROR("EKProxy", "getMethodInfo",
                  "Function " + name + " does not exist in module " + xGetModuleName());
  }
  boost::shared_ptr<detail::EKTaskInfo> info = xCreateTaskInfo(name);
  boost::shared_ptr<EKModuleCore> moduleCore = getModuleCore();
  xAddTask(info->toString(), new detail::_pcall0(method->functor, info, moduleCore));
  return info->getID();
}

}  // namespace EK

#endif  // EKCOMMON_EKPROXY_H
