#!/usr/bin/env bash
# Builds Kestrix from scratch and runs every test; then builds the core tests
# and the fuzz harnesses once more with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, runs those tests and gives each harness a few
# seconds.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh build
export QT_QPA_PLATFORM=offscreen
rm -rf build-test build-san
# Release at -O2, as users build it (-O3 adds time and GCC 12 false warnings).
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
cmake --build build-test -j2
ctest --test-dir build-test --output-on-failure -j2 --timeout 300
# Kills registry changes of kestrix-cli at random moments: the hive is always before or after.
tools/registry-kill-test.sh --runs 40 --no-wine --build-dir build-test
# The committed fixtures' export and import tables against two independent PE parsers.
tools/check-fixtures.sh
# The .deb: its files and dependencies, and the installed programs run from a scratch root.
tools/check-package.sh build-test
# One sanitizer build serves the core tests and the fuzz harnesses; -O1 and
# line tables only keep it quick to build while reports still name lines.
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_GUI=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_FUZZ=ON
cmake --build build-san -j2
# The Wine interop suites check Wine's side of the registry files; they ran above.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-san -L core -E '^(WineRegistry|KnownPacksWine)\.' --output-on-failure -j2 --timeout 600
tools/fuzz.sh --smoke --build-dir build-san --no-build
echo "All tests passed."
