#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# replays the kept regression inputs, then fuzzes each target for SECONDS (default 60) from
# the seed corpora in fuzz/seeds (files written by the project's own writers).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=build/fuzz
mkdir -p "$build"
# Quiet when it works; the end of the build's output when it does not.
CC=clang CXX=clang++ scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEKVISION_BUILD_FUZZERS=ON -DEKVISION_SANITIZE=address,undefined -DEKVISION_WERROR=ON \
  -DEKVISION_BUILD_TESTS=OFF -DEKVISION_BUILD_EXAMPLES=OFF -DEKVISION_BUILD_TOOLS=OFF \
  >"$build/configure.log" 2>&1 || { tail -n 40 "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { grep -E 'error|Error' "$build/build.log" | head -n 20; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

corpus="$build/corpus"
rm -rf "$corpus"
cp -r fuzz/seeds "$corpus"
for target in "${targets[@]}"; do
  mkdir -p "$corpus/$target"
  if [ -d "fuzz/regressions/$target" ]; then
    replay="$build/$target.replay.log"
    "$build/fuzz/$target" -runs=0 -timeout=10 "fuzz/regressions/$target"/* >"$replay" 2>&1 ||
      { tail -n 40 "$replay"; exit 1; }
    echo "$target: replayed $(grep -c '^Executed ' "$replay") kept regression inputs"
  fi
  echo "$target: fuzzing for ${seconds}s"
  # New findings land in build/fuzz/findings; a crash fails the run.
  mkdir -p "$build/findings"
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$corpus/$target" \
    2>"$build/$target.log" || { tail -n 40 "$build/$target.log"; exit 1; }
  grep -E '^(stat::number_of_executed_units|Done)' "$build/$target.log" | tail -n 1
done
echo "fuzz: passed"
