// Linked into every program of the tool that reads or writes pictures through OpenCV.
//
// OpenCV's image codecs call into GDAL, whose one-time set-up takes two of its own locks in
// both orders on a single thread; ThreadSanitizer would report that as a potential deadlock
// in a library this project does not build. The runtime reads these suppressions from the
// program itself, so they hold whatever TSAN_OPTIONS says.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  // Live cameras run GStreamer's pipelines in the tool's process, remote cameras and serve
  // ZeroMQ's I/O threads.
  return "deadlock:libgdal.so\n"
#include "gstreamer_tsan_suppressions.inc"
#include "zeromq_tsan_suppressions.inc"
      ;
}
#endif
