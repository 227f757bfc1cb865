#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in their own build folder) and runs them.
#
#   tools/fuzz.sh [--build-dir DIR] [--time SECONDS | --runs N] [--no-build] [HARNESS...]
#   tools/fuzz.sh --smoke        # a few seconds each, as ./test.sh runs them
#
# HARNESS is one of: pe_image package datafile dcp dcu hive imports (default: all).
# Each harness starts from its corpus folder in the build folder, seeded from
# the fixtures and from tests/fuzz/corpus/HARNESS; new inputs go there, crash
# inputs to DIR/findings/HARNESS. Extra libFuzzer flags: $FUZZ_FLAGS.
# Debian packages: clang, libclang-rt-14-dev.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
limit=(-max_total_time=60)
do_build=1
harnesses=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --time) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    --smoke) limit=(-max_total_time=4); shift ;;
    --no-build) do_build=0; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
all=(pe_image package datafile dcp dcu hive imports)
[ ${#harnesses[@]} -eq 0 ] && harnesses=("${all[@]}")

if [ "$do_build" = 1 ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
    -DKESTRIX_FUZZ=ON -DKESTRIX_GUI=OFF -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target "${harnesses[@]/#/fuzz_}"
fi

# Seed files per harness: the fixtures that are of the harness's kind.
seeds() {
  local fx="$root/tests/fixtures"
  case "$1" in
    pe_image|package|datafile|imports) ls "$fx"/bin/* ;;
    dcp) find "$fx/demo-prefix" -iname '*.dcp' ;;
    dcu) ls "$fx"/dcu/*.dcu ;;
    hive) ls "$fx"/demo-prefix/*.reg ;;
  esac
  [ -d "$root/tests/fuzz/corpus/$1" ] && find "$root/tests/fuzz/corpus/$1" -type f
  return 0
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The harnesses' private Windows prefixes live in memory when they can.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
status=0
for h in "${harnesses[@]}"; do
  corpus="$build/corpus/$h"
  findings="$build/findings/$h"
  mkdir -p "$corpus" "$findings"
  while read -r f; do cp -n "$f" "$corpus/" 2>/dev/null || true; done < <(seeds "$h")
  echo "== fuzz_$h ${limit[*]}"
  # A file of a few KB must never ask for more than this in one allocation;
  # -timeout catches inputs that hang.
  log="$build/logs/$h.log"
  mkdir -p "$build/logs"
  # Hive text costs most per byte; short inputs reach the same code.
  extra=()
  [ "$h" = hive ] && extra=(-max_len=1024)
  rc=0
  found_before=$(find "$findings" -type f | wc -l)
  # shellcheck disable=SC2086
  "$build/tests/fuzz/fuzz_$h" "${limit[@]}" -timeout=10 -malloc_limit_mb=128 \
    -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$findings/" \
    "${extra[@]}" ${FUZZ_FLAGS:-} "$corpus" >"$log" 2>&1 || rc=$?
  grep -aE '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$log" || true
  if [ $rc -ne 0 ]; then
    grep -aE 'ERROR|invariant|SUMMARY|Test unit written' "$log" >&2 || true
    if [ "$(find "$findings" -type f | wc -l)" -gt "$found_before" ]; then
      echo "fuzz_$h: finding saved in $findings (log $log)" >&2
    else
      echo "fuzz_$h: stopped with status $rc (log $log)" >&2
    fi
    status=1
  fi
done
exit $status
