#include "ektaskrunner.h"

#include <exception>
#include <utility>
#include <vector>

#include <boost/chrono.hpp>

#include <ru/log.h>

namespace EK {
namespace detail {
namespace {

void logTaskEnd(int level, const std::string& key, const std::string& reason) {
  ru::log::LogStream stream(level, "EKBroker", "", "runTask", 0);
  stream << "Task " << key << " " << reason << std::endl;
}

// Joins threads outside any lock; a thread never joins itself.
void joinThreads(std::vector<boost::thread>& threads) {
  for (boost::thread& thread : threads) {
    if (thread.get_id() == boost::this_thread::get_id()) {
      thread.detach();
    } else if (thread.joinable()) {
      thread.join();
    }
  }
}

}  // namespace

void EKTaskRunner::add(const std::string& key, std::unique_ptr<EKTask> task) {
  reapFinished();
  const int taskId = task->getTaskInfo()->getID();
  std::shared_ptr<State> state = state_;
  // The thread looks its entry up when it ends; it cannot get there before the entry exists.
  boost::lock_guard<boost::mutex> lock(state->mutex);
  Entry& entry = state->tasks[taskId];
  try {
    // std::function needs a copyable callable; the task moves in through a shared holder.
    auto holder = std::make_shared<std::unique_ptr<EKTask>>(std::move(task));
    entry.thread =
        boost::thread([state, taskId, key, holder] { runTask(state, taskId, key, *holder); });
  } catch (...) {
    state->tasks.erase(taskId);
    throw;
  }
  ++state->started;
}

void EKTaskRunner::runTask(const std::shared_ptr<State>& state, int taskId, const std::string& key,
                           std::unique_ptr<EKTask>& task) {
  // An exception must not leave a thread function: it would end the process.
  try {
    task->run();
  } catch (const boost::thread_interrupted&) {
    logTaskEnd(4, key, "was interrupted");
  } catch (const std::exception& error) {
    logTaskEnd(2, key, std::string("ended with an error: ") + error.what());
  } catch (...) {
    logTaskEnd(2, key, "ended with an unknown exception");
  }
  try {
    task.reset();
  } catch (...) {
    logTaskEnd(2, key, "failed while being destroyed");
  }
  boost::lock_guard<boost::mutex> lock(state->mutex);
  auto found = state->tasks.find(taskId);
  if (found != state->tasks.end()) {
    found->second.done = true;
  }
  state->finished.notify_all();
}

void EKTaskRunner::reapFinished() {
  std::vector<boost::thread> finished;
  {
    boost::lock_guard<boost::mutex> lock(state_->mutex);
    for (auto it = state_->tasks.begin(); it != state_->tasks.end();) {
      if (it->second.done) {
        finished.push_back(std::move(it->second.thread));
        it = state_->tasks.erase(it);
      } else {
        ++it;
      }
    }
  }
  joinThreads(finished);
}

bool EKTaskRunner::wait(int taskId, int timeoutMs) {
  const auto deadline = boost::chrono::steady_clock::now() + boost::chrono::milliseconds(timeoutMs);
  boost::unique_lock<boost::mutex> lock(state_->mutex);
  for (;;) {
    auto found = state_->tasks.find(taskId);
    if (found == state_->tasks.end() || found->second.done) {
      return true;
    }
    if (state_->finished.wait_until(lock, deadline) == boost::cv_status::timeout) {
      found = state_->tasks.find(taskId);
      return found == state_->tasks.end() || found->second.done;
    }
  }
}

bool EKTaskRunner::isRunning(int taskId) const {
  boost::lock_guard<boost::mutex> lock(state_->mutex);
  auto found = state_->tasks.find(taskId);
  return found != state_->tasks.end() && !found->second.done;
}

void EKTaskRunner::interrupt(int taskId) {
  boost::lock_guard<boost::mutex> lock(state_->mutex);
  auto found = state_->tasks.find(taskId);
  if (found != state_->tasks.end() && !found->second.done) {
    found->second.thread.interrupt();
  }
}

std::size_t EKTaskRunner::startedCount() const {
  boost::lock_guard<boost::mutex> lock(state_->mutex);
  return state_->started;
}

void EKTaskRunner::joinAll() {
  std::vector<boost::thread> threads;
  {
    boost::lock_guard<boost::mutex> lock(state_->mutex);
    for (auto& task : state_->tasks) {
      threads.push_back(std::move(task.second.thread));
    }
    state_->tasks.clear();
  }
  joinThreads(threads);
}

}  // namespace detail
}  // namespace EK
