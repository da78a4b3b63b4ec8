#!/usr/bin/env bash
# Configures and builds one build directory. Usage: build.sh DIR [cmake options...]
# MINTORA_TARGETS (blank-separated) limits the build to those targets. MINTORA_WERROR=OFF
# builds without treating warnings as errors (the run command); the test command keeps them.
set -euo pipefail
dir=$1
shift
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${MINTORA_JOBS:-2}
echo "build: configuring $dir"
cmake -S "$top" -B "$top/$dir" -DMINTORA_WERROR="${MINTORA_WERROR:-ON}" "$@" >"$top/$dir.configure.log" 2>&1 \
  || { cat "$top/$dir.configure.log" >&2; echo "build: configuring $dir failed" >&2; exit 1; }
echo "build: compiling $dir"
targets=()
for t in ${MINTORA_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$top/$dir" -j"$jobs" "${targets[@]}" || { echo "build: compiling $dir failed" >&2; exit 1; }
