#!/usr/bin/env bash
# ARM64 lane: cross-compiles the pixel-conversion kernels and their tests for aarch64 and runs
# them under qemu-user once per emulated processor, so that every ARM target Highway compiles
# (NEON, SVE, SVE2, SVE_256, SVE2_128) is checked byte for byte against the scalar reference,
# the two arithmetic conversions on all 2^24 inputs. Emulation proves exactness only: no speed
# is measured here.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/arm64}

cmake -S scripts/arm-lane -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/arm-lane/aarch64-linux-gnu.cmake" -DEKVISION_WERROR=ON \
  >/dev/null
cmake --build "$build" -j2

# Each emulated processor and the targets Highway must find on it (the tests fail if the list
# of targets they ran differs). "max" has SVE2 with 512-bit vectors; the fixed-width targets
# need their vector length.
runs=(
  "cortex-a72|NEON"
  "max|SVE2 SVE NEON"
  "max,sve-default-vector-length=32|SVE_256 SVE2 SVE NEON"
  "max,sve-default-vector-length=16|SVE2_128 SVE2 SVE NEON"
)
for run in "${runs[@]}"; do
  cpu=${run%%|*}
  expected=${run#*|}
  echo "== qemu-aarch64 -cpu $cpu: expecting targets $expected"
  QEMU_LD_PREFIX=/usr/aarch64-linux-gnu QEMU_CPU="$cpu" EKVISION_EXPECTED_TARGETS="$expected" \
    qemu-aarch64 "$build/convert/tests/ekvision_convert_tests" --gtest_brief=1
done
echo "ARM lane: passed"
