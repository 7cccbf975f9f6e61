#!/usr/bin/env bash
# Renders every window, page and dialog of the desktop program in all six languages at scales 1
# and 2 to build/screenshots/<language>/<scale>/<window>.png, on the offscreen platform, and fails
# where a text does not fit its control. Uses the test build when there is one (BUILD_DIR to
# choose another), else makes a release build.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-}
if [[ -z "$build" ]]; then
  if [[ -f build/asan/build.ninja ]]; then build=build/asan; else build=build/release; fi
fi
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVA_BUILD_TESTS=OFF
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tolva-screenshots

out=build/screenshots
rm -rf "$out"
status=0
for scale in 1 2; do
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale ASAN_OPTIONS=detect_leaks=0 \
    "$build/tools/screenshots/tolva-screenshots" "$out" || status=1
done
exit $status
