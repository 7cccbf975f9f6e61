#!/usr/bin/env bash
# Installs what is missing and builds the program and the reference player. With arguments it
# runs `tolva` with them; without arguments it runs the demonstration of scripts/demo.sh (a
# reference player and tolva in a private network namespace, with generated sample music).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVA_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target tolva tolva-reference-player >/dev/null
if [ "$#" -eq 0 ]; then exec scripts/demo.sh --no-build; fi
exec build/release/src/cli/tolva "$@"
