#include <ru/log.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace ru {
namespace log {
namespace {

std::mutex& handlerMutex() {
  static std::mutex mutex;
  return mutex;
}

// Shared so that log() can call the handler outside the lock: a handler may log itself,
// and setHandler() may replace it while another thread is inside it.
std::shared_ptr<const Handler>& currentHandler() {
  static std::shared_ptr<const Handler> handler;
  return handler;
}

std::atomic<int> verbosity{3};

void writeToStandardError(int level, const std::string& category, const std::string& message,
                          const std::string& function) {
  if (level > verbosity.load(std::memory_order_relaxed)) {
    return;
  }
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  // One fprintf per record keeps lines from different threads whole.
  std::fprintf(stderr, "[%d] %s: %s%s%s\n", level, category.c_str(), text.c_str(),
               function.empty() ? "" : " (in ", function.empty() ? "" : (function + ")").c_str());
}

}  // namespace

void log(int level, const std::string& category, const std::string& message,
         const std::string& file, const std::string& function, int line) {
  std::shared_ptr<const Handler> handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex());
    handler = currentHandler();
  }
  if (handler) {
    (*handler)(level, category, message, file, function, line);
  } else {
    writeToStandardError(level, category, message, function);
  }
}

Handler setHandler(Handler handler) {
  std::shared_ptr<const Handler> next;
  if (handler) {
    next = std::make_shared<const Handler>(std::move(handler));
  }
  std::lock_guard<std::mutex> lock(handlerMutex());
  std::shared_ptr<const Handler> previous = std::move(currentHandler());
  currentHandler() = std::move(next);
  return previous ? *previous : Handler();
}

void setVerbosity(int maxLevel) {
  verbosity.store(maxLevel, std::memory_order_relaxed);
}

int getVerbosity() {
  return verbosity.load(std::memory_order_relaxed);
}

LogStream::LogStream(int level, const std::string& category, const std::string& file,
                     const std::string& function, int line)
    : level_(level), category_(category), file_(file), function_(function), line_(line) {}

LogStream::~LogStream() {
  // A destructor must not throw: a failing handler loses its record, not the process.
  try {
    ru::log::log(level_, category_, str(), file_, function_, line_);
  } catch (...) {
  }
}

}  // namespace log
}  // namespace ru
