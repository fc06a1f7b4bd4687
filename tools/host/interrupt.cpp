#include "interrupt.h"

#include <atomic>

namespace ekhost {
namespace {

// A lock-free atomic is safe in a signal handler, which may run on any of the threads, and
// orders the flag with the threads that read it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler must not take a lock");

}  // namespace

InterruptScope::InterruptScope() {
  interrupted = false;
  struct sigaction action {};
  action.sa_handler = [](int) { interrupted = true; };
  // The handler is taken back after the first signal, so that a second one ends the process.
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInt_);
  sigaction(SIGTERM, &action, &previousTerm_);
}

InterruptScope::~InterruptScope() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool InterruptScope::requested() {
  return interrupted;
}

}  // namespace ekhost
