#!/usr/bin/env bash
# Sets up, builds and starts Mintora on the data directory beside the program (build/app/data).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
echo "== setup"
bash scripts/setup.sh
echo "== build (build/)"
# A compiler's new warning must not keep a person from running the program: only the test
# command treats warnings as errors.
MINTORA_WERROR=OFF MINTORA_TARGETS="mintora mtdb" bash scripts/build.sh build
# A first start gets the program's five tables and a first account (user "admin", password
# "admin"; change it under "密码设置").
data="$top/build/app/data"
if [ ! -e "$data" ]; then
  echo "== making the data directory $data (user admin, password admin)"
  "$top/build/tools/mtdb/mtdb" init-mintora "$data" --user admin --password admin
fi
echo "== starting build/app/mintora"
exec "$top/build/app/mintora"
