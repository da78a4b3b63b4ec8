#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs them.
#
#   fuzz.sh gate              what the test command runs, the same way every time: each target
#                             replays its committed corpus (fuzz/corpus/<name>/, regressions
#                             included), then explores from it with a fixed seed for a fixed
#                             number of runs (MINTORA_FUZZ_RUNS, default 30000) into a fresh
#                             scratch corpus
#   fuzz.sh SECONDS [NAME...] open-ended fuzzing for SECONDS per target (all targets when none
#                             is named), with a random seed; new inputs collect in
#                             build-fuzz/corpus-<name>/ and survive between runs
#
# fuzz/<name>.options, when present, adds flags for that target, one per line (they come after
# the common ones and override them, e.g. a larger -max_len for inputs made of whole files).
#
# A crash, a sanitizer report, a leak or a timeout fails the script; the input that caused it
# is kept in build-fuzz/artifacts/. Such an input goes into fuzz/corpus/<name>/ with its fix.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mode=${1:-}
if [ "$mode" != gate ] && ! [[ "$mode" =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz.sh gate | fuzz.sh SECONDS [NAME...]" >&2
  exit 2
fi
shift || true
jobs=${MINTORA_JOBS:-2}
runs=${MINTORA_FUZZ_RUNS:-30000}
mkdir -p build-fuzz/artifacts

echo "fuzz: configuring build-fuzz"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz >build-fuzz/configure.log 2>&1 \
  || { cat build-fuzz/configure.log >&2; echo "fuzz: configuring build-fuzz failed" >&2; exit 1; }
echo "fuzz: compiling build-fuzz"
cmake --build build-fuzz -j"$jobs" || { echo "fuzz: compiling build-fuzz failed" >&2; exit 1; }

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for src in fuzz/*_fuzzer.cpp; do
    n=$(basename "$src" _fuzzer.cpp)
    names+=("$n")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-rss_limit_mb=2048 -timeout=20 -max_len=8192 -detect_leaks=1 -print_final_stats=1)

# run NAME LOG ARGS...: one libFuzzer run; prints its tail and fails the script on a finding.
run() {
  local name=$1 log=$2
  shift 2
  local dict=()
  if [ -f "fuzz/$name.dict" ]; then dict=(-dict="fuzz/$name.dict"); fi
  local extra=()
  if [ -f "fuzz/$name.options" ]; then mapfile -t extra <"fuzz/$name.options"; fi
  "build-fuzz/${name}_fuzzer" "${common[@]}" "${dict[@]}" "${extra[@]}" \
    -artifact_prefix="build-fuzz/artifacts/$name-" "$@" >"$log" 2>&1 \
    || { tail -n 60 "$log" >&2; echo "fuzz: ${name}_fuzzer failed (log: $log)" >&2; exit 1; }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
}

for name in "${names[@]}"; do
  [ -x "build-fuzz/${name}_fuzzer" ] || { echo "fuzz: no target ${name}_fuzzer" >&2; exit 2; }
  if [ "$mode" = gate ]; then
    echo "fuzz: ${name}_fuzzer replays fuzz/corpus/$name"
    run "$name" "build-fuzz/$name-replay.log" -runs=0 "fuzz/corpus/$name"
    echo "fuzz: ${name}_fuzzer explores $runs runs from seed 1"
    work=build-fuzz/gate-$name
    rm -rf "$work"
    mkdir -p "$work"
    run "$name" "build-fuzz/$name-gate.log" -seed=1 -runs="$runs" "$work" "fuzz/corpus/$name"
  else
    echo "fuzz: running ${name}_fuzzer for ${mode}s"
    work=build-fuzz/corpus-$name
    mkdir -p "$work"
    run "$name" "build-fuzz/$name.log" -max_total_time="$mode" "$work" "fuzz/corpus/$name"
  fi
done
echo "fuzz: no crash, leak or sanitizer report"
