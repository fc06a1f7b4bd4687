// Linked into the remote camera's and the method server's tests: the sanitizer runtimes read
// these suppressions from the program itself, so they hold whatever TSAN_OPTIONS and
// LSAN_OPTIONS say.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return
#include "zeromq_tsan_suppressions.inc"
      ;
}
#endif

// LeakSanitizer: a client whose CURVE handshake fails leaves ZeroMQ holding one small block
// (about 100 bytes) that its own I/O thread allocated and never frees; the stack holds no
// frame of this project. Leaks reached through this project's code are still reported.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libzmq.so.5\n";
}
#endif
