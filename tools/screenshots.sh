#!/usr/bin/env bash
# Starts Kestrix offscreen on a fresh copy of the demo environment, loads the
# demo package and saves a PNG of every page (plus the About box and the
# progress window) into OUTDIR.
# Usage: tools/screenshots.sh [OUTDIR] [PACKAGE]
#   OUTDIR   default: out/screenshots
#   PACKAGE  Windows or host path, default: C:\Projects\Demo\DemoComp.dpl
# The window is driven by the GUI test program in its screenshot mode, so
# the build folder (default build-screenshots, or $KX_BUILD) gets the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-out/screenshots}")"
package="${2:-C:\\Projects\\Demo\\DemoComp.dpl}"
build="${KX_BUILD:-build-screenshots}"

cmake -S . -B "$build" -DKESTRIX_GUI=ON -DKESTRIX_TESTS=ON -DKESTRIX_BENCH=OFF >/dev/null
cmake --build "$build" --target test_gui -j2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -a tests/fixtures/demo-prefix "$work/prefix"
mkdir -p "$out"
rm -f "$out"/*.png
WINEPREFIX="$work/prefix" QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" \
  "$build/tests/test_gui" --kx-screenshots "$out" "$package"
ls "$out"
