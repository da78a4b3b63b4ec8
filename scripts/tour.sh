#!/usr/bin/env bash
# The screenshot tour: builds the tour program and saves a PNG of every window and dialog of
# Mintora into OUTDIR, filled from the window tests' sample data and drawn offscreen with the
# Chinese font (fonts-wqy-microhei). One file per window, named after its class.
# Usage: scripts/tour.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: scripts/tour.sh OUTDIR" >&2
  exit 2
fi
out=$(mkdir -p "$1" && cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
echo "== setup"
bash scripts/setup.sh
echo "== build (build/)"
# Built like the test command builds (the tour belongs to the tests), so build/ is not
# reconfigured back and forth between the two.
MINTORA_TARGETS="mintora_tour" bash scripts/build.sh build
echo "== pictures into $out"
QT_QPA_PLATFORM=offscreen "$top/build/tests/app/mintora_tour" "$out"
