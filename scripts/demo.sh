#!/usr/bin/env bash
# Builds the library and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DEKVISION_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo -j2 --target ekvision_hello
build/demo/examples/ekvision_hello
