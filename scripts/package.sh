#!/usr/bin/env bash
# Builds the Debian package of both programs in build/package: an optimised build without the
# tests, then CPack. Prints the path of the package.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
build=build/package
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVA_BUILD_TESTS=OFF \
  -DTOLVA_BUILD_BENCH=OFF -DTOLVA_BUILD_FUZZ=OFF -DTOLVA_SANITIZE= >&2
# Only what the package holds (not the reference player or the screenshot tool).
cmake --build "$build" -j "$jobs" --target tolva tolva-music-transfer tolva-desktop-files >&2
rm -f "$build"/tolva-music-transfer_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$PWD/$build"/tolva-music-transfer_*.deb
