#!/usr/bin/env bash
# Builds Kestrix from scratch and runs every test, then builds the core tests
# once more with AddressSanitizer and UndefinedBehaviorSanitizer and runs them,
# and gives each fuzz harness a few seconds.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh build
export QT_QPA_PLATFORM=offscreen
rm -rf build-test build-asan build-fuzz-smoke
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test -j2
ctest --test-dir build-test --output-on-failure -j2 --timeout 300
# The committed fixtures' export and import tables against two independent PE parsers.
tools/check-fixtures.sh
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTRIX_GUI=OFF -DKESTRIX_BENCH=OFF \
  -DKESTRIX_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1
cmake --build build-asan -j2
# The Wine interop suites check Wine's side of the registry files; they ran above.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -L core -E '^(WineRegistry|KnownPacksWine)\.' --output-on-failure -j2 --timeout 600
# Each libFuzzer harness for a few seconds from its seeds (clang build).
tools/fuzz.sh --smoke --build-dir build-fuzz-smoke
echo "All tests passed."
