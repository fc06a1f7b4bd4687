/// @file
/// Tasks: units of work that the framework runs on task threads of their own.
#ifndef EKCOMMON_EKTASK_H
#define EKCOMMON_EKTASK_H

#include <utility>

#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ekfunctorbase.h>
#include <ekcommon/ektaskinfo.h>
#include <ekvalue/ekvalue.h>

namespace EK {

class EKModuleCore;

namespace detail {

/// @brief A unit of work for a task thread. Heap-allocated; the framework owns it once added.
class EKFRAMEWORK_API EKTask {
 public:
  /// A task with the identity @p info.
  explicit EKTask(boost::shared_ptr<EKTaskInfo> info) : info_(std::move(info)) {}
  /// Tasks are owned and destroyed through this base.
  virtual ~EKTask();
  EKTask(const EKTask&) = delete;
  EKTask& operator=(const EKTask&) = delete;

  /// Does the work, on the task thread. Exceptions are caught and logged by the framework.
  virtual void run() = 0;
  /// The task's identity.
  const boost::shared_ptr<EKTaskInfo>& getTaskInfo() const noexcept { return info_; }

 private:
  boost::shared_ptr<EKTaskInfo> info_;
};

/// @brief An asynchronous call of a method without arguments.
///
/// Holds the module core so that the module lives at least as long as the call runs.
class EKFRAMEWORK_API _pcall0 : public EKTask {
 public:
  /// A call of @p functor under the identity @p info, keeping @p moduleCore alive.
  _pcall0(boost::shared_ptr<EKFunctorBase> functor, boost::shared_ptr<EKTaskInfo> info,
          boost::shared_ptr<EKModuleCore> moduleCore)
      : EKTask(std::move(info)), functor_(std::move(functor)), moduleCore_(std::move(moduleCore)) {}
  /// Releases the functor and the module core.
  ~_pcall0() override;

  /// Calls the method with an empty argument list; its result is dropped.
  void run() override {
    EKValue result;
    functor_->call(EKValue(), result);
  }

 private:
  boost::shared_ptr<EKFunctorBase> functor_;
  boost::shared_ptr<EKModuleCore> moduleCore_;
};

}  // namespace detail
}  // namespace EK

#endif  // EKCOMMON_EKTASK_H
