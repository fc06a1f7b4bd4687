#include <ekcommon/ektask.h>

#include <atomic>

#include <ekcommon/ekmodulecore.h>
#include <ekcommon/ektaskinfo.h>

namespace EK {
namespace detail {
namespace {

// Ids are unique within the process, not just a broker, so that a task id alone names it.
std::atomic<int> lastTaskId{0};

}  // namespace

EKTaskInfo::EKTaskInfo(const std::string& moduleName, const std::string& methodName)
    : id_(++lastTaskId), moduleName_(moduleName), methodName_(methodName) {}

std::string EKTaskInfo::toString() const {
  return moduleName_ + "." + methodName_ + "#" + std::to_string(id_);
}

EKTask::~EKTask() = default;

_pcall0::~_pcall0() = default;

}  // namespace detail
}  // namespace EK
