#!/usr/bin/env bash
# Installs what is missing, builds (optimised, without the tests) and runs.
#
#   scripts/run.sh              the desktop program with a reference player and sample albums, all
#                               in a private loopback-only network namespace (scripts/demo.sh
#                               --desktop): on your display when there is one, otherwise on a
#                               private X server, where the first-start wizard and a transfer are
#                               taken for you and screenshots land in build/run-screenshots/
#   scripts/run.sh --cli-demo   the same with the `tolva` command-line front end (scripts/demo.sh)
#   scripts/run.sh ARGS...      `tolva` with these arguments
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVA_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
build() { cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target "$@" >/dev/null; }

if [ "$#" -eq 0 ]; then
  build tolva-music-transfer tolva-reference-player
  exec scripts/demo.sh --no-build --desktop
fi
if [ "$1" = "--cli-demo" ]; then
  build tolva tolva-reference-player
  exec scripts/demo.sh --no-build
fi
build tolva
exec build/release/src/cli/tolva "$@"
