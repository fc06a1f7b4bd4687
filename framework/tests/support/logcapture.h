// Test support: captures the log records made while it lives.
#ifndef EKFRAMEWORK_TESTS_LOGCAPTURE_H
#define EKFRAMEWORK_TESTS_LOGCAPTURE_H

#include <mutex>
#include <string>
#include <vector>

#include <ru/log.h>

namespace ektest {

/// One captured record.
struct LogRecord {
  int level;
  std::string category;
  std::string message;
  std::string file;
  std::string function;
  int line;
};

/// Installs a handler that keeps every record; restores the previous handler when destroyed.
class LogCapture {
 public:
  LogCapture() {
    previous_ = ru::log::setHandler([this](int level, const std::string& category,
                                           const std::string& message, const std::string& file,
                                           const std::string& function, int line) {
      std::lock_guard<std::mutex> lock(mutex_);
      records_.push_back({level, category, message, file, function, line});
    });
  }
  ~LogCapture() { ru::log::setHandler(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  /// A copy of the records so far.
  std::vector<LogRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  /// Number of records so far.
  std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
  }
  /// Number of records whose message is exactly @p message.
  std::size_t count(const std::string& message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const LogRecord& record : records_) {
      n += record.message == message ? 1 : 0;
    }
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
  ru::log::Handler previous_;
};

}  // namespace ektest

#endif  // EKFRAMEWORK_TESTS_LOGCAPTURE_H
