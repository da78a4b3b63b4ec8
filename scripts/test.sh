#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (engine, archive, dataset layer, app
# and mtdb, with QTest under the offscreen platform), then the engine, archive and dataset
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets
# for a short bounded time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
export QT_QPA_PLATFORM=offscreen

echo "== setup"
bash scripts/setup.sh

echo "== build (build/)"
bash scripts/build.sh build

echo "== tests (build/)"
ctest --test-dir build --output-on-failure -j2 || { echo "test: tests failed in build/" >&2; exit 1; }

echo "== build with sanitizers (build-asan/)"
bash scripts/build.sh build-asan -DMINTORA_SANITIZE=ON -DMINTORA_BUILD_APP=OFF \
  -DMINTORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug

echo "== tests under sanitizers (build-asan/)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2 \
  || { echo "test: tests failed under sanitizers" >&2; exit 1; }

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzzing (build-fuzz/)"
  bash scripts/fuzz.sh gate
fi
echo "== all tests passed"
