#!/usr/bin/env bash
# Installs the Debian packages Kestrix needs that are not installed yet.
# Usage: scripts/deps.sh build|run
set -euo pipefail
pkgs=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
      nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core python3 python3-pefile pev
      clang libclang-rt-14-dev dpkg-dev man-db desktop-file-utils shared-mime-info)
[ "${1:-build}" = run ] && pkgs=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
      nlohmann-json3-dev fonts-dejavu-core)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
