/// @file
/// What the framework knows about one asynchronous method call.
#ifndef EKCOMMON_EKTASKINFO_H
#define EKCOMMON_EKTASKINFO_H

#include <string>

#include <ekcommon/api.h>

namespace EK {
namespace detail {

/// @brief Identity of one task: its id, unique and increasing within the process, and the
/// method it runs.
class EKFRAMEWORK_API EKTaskInfo {
 public:
  /// Takes the next task id of the process.
  EKTaskInfo(const std::string& moduleName, const std::string& methodName);

  /// The task id, as returned to the caller of an asynchronous call.
  int getID() const noexcept { return id_; }
  /// Module whose method the task runs.
  const std::string& getModuleName() const noexcept { return moduleName_; }
  /// Method the task runs.
  const std::string& getMethodName() const noexcept { return methodName_; }
  /// The key under which the task is run: "<module>.<method>#<id>".
  std::string toString() const;

 private:
  int id_;
  std::string moduleName_;
  std::string methodName_;
};

}  // namespace detail
}  // namespace EK

#endif  // EKCOMMON_EKTASKINFO_H
