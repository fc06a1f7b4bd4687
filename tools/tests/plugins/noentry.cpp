// A shared library that is not a vision module plugin: it exports neither entry point.
extern "C" __attribute__((visibility("default"))) int ektestNotAPlugin() {
  return 1;
}
