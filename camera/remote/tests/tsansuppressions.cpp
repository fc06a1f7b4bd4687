// Linked into the remote camera's tests: the runtime reads these suppressions from the
// program itself, so they hold whatever TSAN_OPTIONS says.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return
#include "zeromq_tsan_suppressions.inc"
      ;
}
#endif
