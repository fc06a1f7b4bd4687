/// @file
/// The broker: the modules of this process by name, and the threads that run their tasks.
#ifndef EKCOMMON_EKBROKER_H
#define EKCOMMON_EKBROKER_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ektask.h>

namespace EK {

class EKModuleCore;
class EKProxy;

/// @brief Finds the modules of this process by name and runs their asynchronous calls.
///
/// The broker does not own its modules: it keeps weak references, and a module leaves the
/// list when it exits or is destroyed. Every asynchronous call runs on a task thread of its
/// own; the broker joins them in joinTasks() and when it is destroyed. All operations are
/// safe from any thread.
class EKFRAMEWORK_API EKBroker {
 public:
  /// @param name the broker's name, for messages
  explicit EKBroker(const std::string& name = "EKBroker");
  /// Waits for every task thread to end (see joinTasks()).
  ~EKBroker();
  EKBroker(const EKBroker&) = delete;
  EKBroker& operator=(const EKBroker&) = delete;

  /// The broker's name.
  const std::string& getName() const noexcept;

  /// @brief Lists @p module under its name.
  /// @throws EKError for a null module or when a live module of that name is listed
  void registerModule(const boost::shared_ptr<EKModuleCore>& module);
  /// Removes the module listed as @p name. @return whether one was listed
  bool unregisterModule(const std::string& name);
  /// Removes @p module if it is the one listed under its name. @return whether it was
  bool unregisterModule(const EKModuleCore& module);
  /// The live module listed as @p name, or null.
  boost::shared_ptr<EKModuleCore> getModule(const std::string& name) const;
  /// Names of the live modules, sorted.
  std::vector<std::string> getModuleNames() const;

  /// @brief A proxy to the module listed as @p name.
  /// @param name the module's name
  /// @param flags reserved for remote connections; 0 for modules of this process
  /// @throws EKError when no live module of that name is listed
  boost::shared_ptr<EKProxy> getProxy(const std::string& name, int flags);

  /// @brief Runs @p task on a new task thread and returns at once. The broker owns the task.
  /// @param key how the task is named in log records
  /// @param task the work; it runs once and is destroyed on the task thread
  void addTask(const std::string& key, std::unique_ptr<detail::EKTask> task);
  /// @brief Waits until the task @p taskId has ended, at most @p timeoutMs milliseconds.
  /// @return true when it has ended (or never existed), false on time-out
  bool waitForTask(int taskId, int timeoutMs);
  /// Whether the task @p taskId is still running.
  bool isTaskRunning(int taskId) const;
  /// Interrupts the thread of task @p taskId (see EKModule::stop); unknown ids are ignored.
  void interruptTask(int taskId);
  /// Number of tasks started since the broker was built.
  std::size_t getStartedTaskCount() const;
  /// @brief Waits for every task thread to end.
  ///
  /// Tasks must be able to end on their own: a vision module's loop is stopped first.
  /// Called from a task thread, that thread is left to end by itself.
  void joinTasks();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKCOMMON_EKBROKER_H
