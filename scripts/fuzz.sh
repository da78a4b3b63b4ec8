#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs each for a bounded
# time over its committed seed corpus (fuzz/corpus/<name>/, read only; new inputs go to
# build-fuzz/corpus-<name>/). A crash, a sanitizer report or a leak fails the script; the
# input that caused it is kept in build-fuzz/artifacts/.
# MINTORA_FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${MINTORA_FUZZ_SECONDS:-60}
jobs=${MINTORA_JOBS:-2}
mkdir -p build-fuzz/artifacts

echo "fuzz: configuring build-fuzz"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz >build-fuzz/configure.log 2>&1 \
  || { cat build-fuzz/configure.log >&2; echo "fuzz: configuring build-fuzz failed" >&2; exit 1; }
echo "fuzz: compiling build-fuzz"
cmake --build build-fuzz -j"$jobs" || { echo "fuzz: compiling build-fuzz failed" >&2; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for name in expr eval filter; do
  work=build-fuzz/corpus-$name
  mkdir -p "$work"
  dict=()
  if [ -f "fuzz/$name.dict" ]; then dict=(-dict="fuzz/$name.dict"); fi
  echo "fuzz: running ${name}_fuzzer for ${seconds}s"
  "build-fuzz/${name}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 \
    -max_len=8192 -detect_leaks=1 -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="build-fuzz/artifacts/$name-" "$work" "fuzz/corpus/$name" \
    >"build-fuzz/$name.log" 2>&1 \
    || { tail -n 60 "build-fuzz/$name.log" >&2; echo "fuzz: ${name}_fuzzer failed" >&2; exit 1; }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "build-fuzz/$name.log" || true
done
echo "fuzz: no crash, leak or sanitizer report"
