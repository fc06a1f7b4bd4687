#!/usr/bin/env bash
# Configures a build directory with Ninja: scripts/configure.sh BUILD_DIR [cmake options...]
# A directory configured earlier with another generator is cleared first, since CMake
# refuses to change the generator of an existing build directory.
set -euo pipefail
build="$1"
shift
cache="$build/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$cache"; then
  echo "configure: $build was made by another generator; configuring it afresh"
  rm -rf "$cache" "$build/CMakeFiles"
fi
exec cmake -S . -B "$build" -G Ninja "$@"
