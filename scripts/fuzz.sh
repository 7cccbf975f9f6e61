#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, -O1) in
# build/fuzz and runs each one after the other for the given number of seconds (default 10) on a
# fresh copy of its seed corpus. Fails when any target finds a crash, a leak, a hang or runs out
# of memory; the input that did it is kept under build/fuzz/artifacts/<target>/.
#   scripts/fuzz.sh          # the short run of the test script
#   scripts/fuzz.sh 300      # a longer run, same targets and seeds
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target, default 10]" >&2
  exit 2
fi

scripts/install-deps.sh >/dev/null

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$compiler" ]; then
  echo "fuzz: no clang++ found (install-deps installs clang-14)" >&2
  exit 1
fi

jobs=$(nproc 2>/dev/null || echo 2)
build=build/fuzz
# Debug keeps the assertions (ours and Qt's) live; -O1 keeps the run fast enough to matter.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DCMAKE_CXX_COMPILER="$compiler" -DTOLVA_BUILD_FUZZ=ON -DTOLVA_BUILD_TESTS=OFF -DTOLVA_BUILD_BENCH=OFF >/dev/null

# target:seed folder
targets=(
  fuzz_device_description:tests/data/device
  fuzz_friendly_name:tests/data/device
  fuzz_file_types:tests/data/device
  fuzz_ssdp_response:tests/data/ssdp
)
names=()
for t in "${targets[@]}"; do names+=("${t%%:*}"); done
cmake --build "$build" -j "$jobs" --target "${names[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Recoverable UBSan findings would only print; halting turns them into a crash the fuzzer keeps.
# malloc_context_size: the sanitizer keeps the stack of every allocation and release for its
# reports, once per distinct stack, and never lets one go. Its quick stack walk follows frame
# pointers, which Qt and the C libraries do not keep, so beyond the second frame it reads
# whatever lies on the stack: nearly every input then adds "new" stacks, and the process grows
# by kilobytes per input until it runs out of memory (the program's own heap stays flat). Two
# frames (where, and who called) are exact and bounded; the crash stack itself stays whole. To
# see full allocation stacks for a kept input, run it again without this option.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:malloc_context_size=2
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp

failed=()
summary=()
for t in "${targets[@]}"; do
  name=${t%%:*}
  seeds=${t#*:}
  corpus=$work/$name
  artifacts=$build/artifacts/$name
  mkdir -p "$corpus" "$artifacts"
  cp "$seeds"/* "$corpus"/
  log=$work/$name.log
  echo "fuzz: $name for ${seconds}s on $(ls "$corpus" | wc -l) seeds from $seeds" >&2
  # -timeout: an input taking longer counts as a hang; -rss_limit_mb also bounds single
  # allocations, so an input that makes a parser allocate without bound is reported. The limit
  # leaves room for the sanitizer's quarantine (256 MB) above a flat working set of about 60 MB,
  # so memory that grows with every input shows within minutes, not after hours.
  if "$build/fuzz/$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=512 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$name")
    grep -E '^(==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)' "$log" >&2 || true
    tail -n 40 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$last")
  summary+=("$(printf '%-26s %-6s %10s %6s %6s %14s' "$name" "$status" "${runs:--}" "${cov:--}" "${ft:--}" "${corp:--}")")
done

printf '%-26s %-6s %10s %6s %6s %14s\n' target result runs cov ft corpus/size
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}; inputs under $build/artifacts/" >&2
  exit 1
fi
