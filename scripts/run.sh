#!/usr/bin/env bash
# Installs what is missing, builds the program and runs `tolva` with the arguments given
# (without arguments: its help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVA_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target tolva >/dev/null
if [ "$#" -eq 0 ]; then set -- --help; fi
exec build/release/src/cli/tolva "$@"
