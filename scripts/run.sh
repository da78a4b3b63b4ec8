#!/usr/bin/env bash
# Sets up, builds and starts Mintora on the data directory beside the program (build/app/data).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
echo "== setup"
bash scripts/setup.sh
echo "== build (build/)"
MINTORA_TARGETS="mintora mtdb" bash scripts/build.sh build
echo "== starting build/app/mintora"
exec "$top/build/app/mintora"
