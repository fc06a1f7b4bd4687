// Internal: the task threads of a broker.
#ifndef EKFRAMEWORK_SRC_EKTASKRUNNER_H
#define EKFRAMEWORK_SRC_EKTASKRUNNER_H

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <ekcommon/ektask.h>

namespace EK {
namespace detail {

/// @brief Runs each task on a Boost thread of its own, so that tasks can be interrupted.
///
/// A task counts as ended only once it has been destroyed, so whoever waited for it may
/// rely on the references it held being gone. Threads of ended tasks are joined when the
/// next task is added, so a long-lived process does not pile up threads.
class EKTaskRunner {
 public:
  EKTaskRunner() : state_(std::make_shared<State>()) {}
  ~EKTaskRunner() { joinAll(); }
  EKTaskRunner(const EKTaskRunner&) = delete;
  EKTaskRunner& operator=(const EKTaskRunner&) = delete;

  void add(const std::string& key, std::unique_ptr<EKTask> task);
  bool wait(int taskId, int timeoutMs);
  bool isRunning(int taskId) const;
  void interrupt(int taskId);
  std::size_t startedCount() const;
  void joinAll();

 private:
  struct Entry {
    boost::thread thread;
    bool done = false;
  };
  // Shared with the task threads: a task may hold the last reference to the broker that
  // owns this runner, and so outlive it by the few statements that follow its release.
  struct State {
    mutable boost::mutex mutex;
    boost::condition_variable finished;
    std::map<int, Entry> tasks;
    std::size_t started = 0;
  };

  static void runTask(const std::shared_ptr<State>& state, int taskId, const std::string& key,
                      std::unique_ptr<EKTask>& task);
  void reapFinished();

  std::shared_ptr<State> state_;
};

}  // namespace detail
}  // namespace EK

#endif  // EKFRAMEWORK_SRC_EKTASKRUNNER_H
