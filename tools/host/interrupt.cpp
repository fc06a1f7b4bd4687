#include "interrupt.h"

#include <csignal>

namespace ekhost {
namespace {

volatile std::sig_atomic_t interrupted = 0;

}  // namespace

InterruptScope::InterruptScope() {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = [](int) { interrupted = 1; };
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
  return interrupted != 0;
}

}  // namespace ekhost
