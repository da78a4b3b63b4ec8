#!/usr/bin/env bash
# Installs the Debian packages Mintora needs that are missing (as root, or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libicu-dev zlib1g-dev libisal-dev libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  fonts-wqy-microhei
  clang libclang-rt-14-dev
  zip unzip python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all needed packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq || { echo "setup: apt-get update failed" >&2; exit 1; }
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
  || { echo "setup: installing packages failed" >&2; exit 1; }
echo "setup: done"
