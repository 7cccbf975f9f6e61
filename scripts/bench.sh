#!/usr/bin/env bash
# Builds the benchmarks (optimised, no sanitizers) and runs every one of them; prints one table:
# benchmark, our figure, the peer's figure, the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVA_BUILD_BENCH=ON -DTOLVA_BUILD_TESTS=ON >/dev/null
cmake --build build/bench -j "$(nproc 2>/dev/null || echo 2)" >&2

results=$(mktemp)
trap 'rm -f "$results"' EXIT
for program in build/bench/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "running $(basename "$program") ..." >&2
  "$program" | grep '^BENCH' >>"$results" || echo "BENCH	$(basename "$program")	failed	-	-	-" >>"$results"
done
# The desktop program's start-up, memory and idle wake-ups, once the program is part of the build.
desktop=build/bench/src/app/tolva-music-transfer
if [ -x "$desktop" ]; then
  echo "running bench/desktop-startup.py ..." >&2
  # The program searches the network for players: it runs inside a private loopback-only namespace.
  tests/support/run-in-netns.sh bench/desktop-startup.py "$desktop" | grep '^BENCH' >>"$results" ||
    echo "BENCH	desktop start-up	failed	-	-	-" >>"$results"
fi

printf '%-58s %12s %12s %7s  %s\n' benchmark ours peer ratio unit
cut -f2- "$results" | while IFS=$'\t' read -r name ours peer ratio unit; do
  printf '%-58s %12s %12s %7s  %s\n' "$name" "$ours" "$peer" "$ratio" "$unit"
done
