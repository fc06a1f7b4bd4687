#!/usr/bin/env bash
# The demo: builds the ekvision tool (Release, in build/demo) and runs the example vision
# module, a motion detector, on the synthetic scene for a few seconds at 15 frames per
# second. It prints one line per detection and a summary, records the frames the module
# processed to build/demo/output/demo.arv, writes the detections as JSON lines to
# build/demo/output/detections.jsonl and draws a contact sheet of eight frames with their
# detection boxes to build/demo/output/contact-sheet.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/demo
output="$build/output"
log="$build/build.log"
mkdir -p "$output"
# A compiler cache makes a rebuild from an emptied build directory quick.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# A unity build compiles each target's sources as a few combined files, which halves the
# time of a first build: most of it goes into parsing the same headers again and again.
echo "==== building the ekvision tool in $build (log: $log)"
if ! { scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=ON \
         -DEKVISION_BUILD_TESTS=OFF -DEKVISION_BUILD_EXAMPLES=OFF \
         -DEKVISION_BUILD_BENCHMARKS=OFF "${launcher[@]}" &&
       cmake --build "$build" -j2 --target ekvision_cli; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "demo: the build failed; the whole log is in $log" >&2
  exit 1
fi

echo "==== ekvision run: the motion detector on the synthetic scene, 4 s at 15 frames/s"
"$build/tools/ekvision" run --seconds 4 --fps 15 --resolution 2 \
  --record "$output/demo.arv" --contact-sheet "$output/contact-sheet.png" \
  --detections "$output/detections.jsonl"

echo
echo "==== written"
echo "  $output/demo.arv            (the frames the module processed; try: $build/tools/ekvision info $output/demo.arv)"
echo "  $output/contact-sheet.png   (eight frames with their detection boxes)"
echo "  $output/detections.jsonl    (every detection as one line of JSON)"
