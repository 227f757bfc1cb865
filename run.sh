#!/usr/bin/env bash
# Builds Kestrix and starts it. Without a Wine prefix of your own ($WINEPREFIX
# or ~/.wine) it runs on a fresh copy of the bundled demo environment.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF >/dev/null
cmake --build build -j2
if [ -z "${WINEPREFIX:-}" ] && [ ! -d "$HOME/.wine" ]; then
  rm -rf .demo && mkdir -p .demo
  cp -a tests/fixtures/demo-prefix .demo/prefix
  export WINEPREFIX="$PWD/.demo/prefix"
  echo "Using the demo environment in $WINEPREFIX"

fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found; here is what Kestrix reads from the demo's main package:"
  echo
  ./build/kestrix-cli info 'C:\Projects\Demo\DemoComp.dpl' || true
  echo
  echo "To see the window, run ./run.sh from a desktop session."
  exit 0
fi
exec ./build/kestrix
