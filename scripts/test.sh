#!/usr/bin/env bash
# Builds and runs every test: the normal build (warnings are errors), the API reference
# (an undocumented public declaration fails it), the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# the conversion kernels cross-compiled for ARM64 and run under emulation,
# an out-of-tree project that uses the installed package, and each fuzz target for
# EKVISION_FUZZ_SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=2

lane() { printf '\n==== %s ====\n' "$*"; }

# The Release lane is a unity build, like the demo's: it keeps the sources free of clashing
# file-local names. The sanitizer lanes compile each source alone, which keeps every source
# including what it uses.
lane "Release build (unity), warnings as errors"
scripts/configure.sh build/ci -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON \
  -DEKVISION_WERROR=ON -DEKVISION_BUILD_BENCHMARKS=ON -DEKVISION_BUILD_PYTHON=ON >/dev/null
cmake --build build/ci -j"$jobs"
(cd build/ci && ctest -j"$jobs" --output-on-failure --timeout 300)

lane "ARM64: conversion kernels cross-compiled, bit-exact under qemu-user on every ARM target"
scripts/arm-lane.sh build/arm64

lane "API reference: every public class, operation and field documented"
mkdir -p build/docs
doxygen docs/Doxyfile
echo "API reference: build/docs/api/html/index.html"

lane "AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/configure.sh build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEKVISION_WERROR=ON \
  -DEKVISION_SANITIZE=address,undefined -DEKVISION_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest -j"$jobs" --output-on-failure --timeout 600)

lane "ThreadSanitizer: the threaded tests (framework, camera, extractor, example, module host, Python modules)"
# With Python: the tool hosting a Python module runs the engine's threads around the GIL.
scripts/configure.sh build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEKVISION_WERROR=ON \
  -DEKVISION_SANITIZE=thread -DEKVISION_BUILD_PYTHON=ON >/dev/null
cmake --build build/tsan -j"$jobs"
# One test at a time: many of them time live cameras and servers, which the sanitizer slows
# several times over, and a second test beside each would starve their threads.
(cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest -j1 -L threads --output-on-failure --timeout 600)

lane "Installed package used by an out-of-tree project"
prefix="$PWD/build/install"
rm -rf "$prefix"
cmake --install build/ci --prefix "$prefix" >/dev/null
cmake -S examples/consumer -B build/consumer -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build/consumer -j"$jobs"
LD_LIBRARY_PATH="$prefix/lib" build/consumer/ekvision_consumer >/dev/null
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --exists ekvision
# The walk-through's vision module plugin, built against the package and run by its host.
cmake -S examples/walkthrough -B build/walkthrough -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build/walkthrough -j"$jobs"
"$prefix/bin/ekvision" run --module build/walkthrough/libbrightspot.so --seconds 1 \
  --summary-json build/walkthrough/summary.json >/dev/null
/usr/bin/python3 -c 'import json, sys
summary = json.load(open(sys.argv[1]))
assert summary["error"] is None and summary["frames"] > 0 and summary["detections"] > 0, summary
' build/walkthrough/summary.json
echo "consumer: passed"

# pytest's exit status 5 (no test collected) fails the lane like any other non-zero one.
lane "Python package: pytest against the Release build, then the package installed"
EKVISION_BUILD_DIR=build/ci PYTHONPATH=build/ci/python \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
rm -rf build/pyinstall
cmake --install build/ci --prefix "$PWD/build/pyinstall" >/dev/null
(cd / && PYTHONPATH="$(echo "$OLDPWD"/build/pyinstall/lib/python3*/dist-packages)" /usr/bin/python3 -c \
  'import ekvision, ekvision.batch, os; assert os.access(ekvision.batch._tool(), os.X_OK)')
echo "installed package: imports"

lane "Fuzzing (libFuzzer, ASan+UBSan), ${EKVISION_FUZZ_SECONDS:-60}s per target"
scripts/fuzz.sh "${EKVISION_FUZZ_SECONDS:-60}"

lane "All lanes passed"
