/// @file
/// The core of every module: its name, its broker and its table of methods.
#ifndef EKCOMMON_EKMODULECORE_H
#define EKCOMMON_EKMODULECORE_H

#include <memory>
#include <string>
#include <vector>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ekfunctorbase.h>
#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>

namespace EK {

class EKBroker;

/// @brief A module's name, broker and method table.
///
/// Modules are held by boost::shared_ptr (see EK::createModule). A module registers its
/// methods while it is being built, on one thread, one method at a time:
/// @code
///   functionName("setFrameRate", "MyModule", "Sets the frame rate", 0);
///   addParam("framerate", "New framerate");
///   setReturn("result", "True if the update succeeded");
///   completeAndCheck(&MyModule::setFrameRate, getCurrentMethodDescription());
///   bindMethod(createFunctor(this, &MyModule::setFrameRate));
/// @endcode
/// Once built, any number of threads may execute methods and read the table at once.
class EKFRAMEWORK_API EKModuleCore : public boost::enable_shared_from_this<EKModuleCore> {
 public:
  /// @throws EKError when @p broker is null or @p name is empty
  EKModuleCore(boost::shared_ptr<EKBroker> broker, const std::string& name);
  /// Leaves the broker's list of modules.
  virtual ~EKModuleCore();
  EKModuleCore(const EKModuleCore&) = delete;
  EKModuleCore& operator=(const EKModuleCore&) = delete;

  /// @brief Executes the method @p methodName on the calling thread.
  /// @param methodName the name under which the method was bound
  /// @param arguments the argument list, an array with one element per parameter
  /// @param result receives the method's result
  /// @throws EKError for an unknown method; whatever the method throws passes on
  virtual void execute(const std::string& methodName, const EKValue& arguments, EKValue& result);

  /// The module's version text.
  virtual std::string version();

  /// The module's name, the key under which its broker finds it.
  const std::string& getName() const noexcept;
  /// The broker the module was built with.
  boost::shared_ptr<EKBroker> getParentBroker() const;

  /// @brief Opens the description of a new method; a description left open is dropped.
  /// @param name the method's name, the one callers use
  /// @param className the class that implements it
  /// @param description what the method does, for clients
  /// @param flags registration flags, 0 for ordinary methods
  void functionName(const std::string& name, const std::string& className,
                    const std::string& description, int flags);
  /// Appends a parameter to the open description. @throws EKError when none is open
  void addParam(const std::string& name, const std::string& description);
  /// Describes the open method's return value. @throws EKError when none is open
  void setReturn(const std::string& name, const std::string& description);
  /// The open description, to be completed in place. @throws EKError when none is open
  EKMethodInfo& getCurrentMethodDescription();
  /// @brief Attaches @p functor to the open description and enters it in the method table.
  /// @throws EKError when no description is open, @p functor is null or a method of that
  ///   name is already bound (the description then stays open)
  void bindMethod(boost::shared_ptr<EKFunctorBase> functor);

  /// The bound method named @p name, or null when the module has none.
  boost::shared_ptr<const EKMethodInfo> getMethod(const std::string& name) const;
  /// Every bound method, in the order of binding.
  std::vector<EKMethodInfo> getMethodInfos() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKCOMMON_EKMODULECORE_H
