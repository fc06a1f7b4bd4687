// Ctrl-C (SIGINT) or SIGTERM ends an engine's work early but cleanly: the recording is
// closed, the summary made. A second one ends the process at once, as usual.
#ifndef EKVISION_TOOLS_HOST_INTERRUPT_H
#define EKVISION_TOOLS_HOST_INTERRUPT_H

#include <signal.h>

namespace ekhost {

/// @brief Catches SIGINT and SIGTERM while it lives, once each; restores the previous
/// handlers when it goes.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  /// True once SIGINT or SIGTERM arrived while a scope lived.
  static bool requested();

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_INTERRUPT_H
