#!/usr/bin/env bash
# Times `kestrix-cli info` of the demo's main package on a prefix made by
# `wineboot -i` (a 1.7 MB system.reg) against the bundled demo prefix, whole
# process runs interleaved in one session, and prints the medians, their
# ratio and the peak memory of each.
#
# usage: bench/startup.sh [RUNS]
#   RUNS  runs per prefix (default 21); the median is reported
# With KX_BENCH_WINEPREFIX=DIR the wineboot prefix is kept in DIR (made there
# when DIR does not exist yet) and reused by later runs; otherwise a scratch
# one is made and removed. Both prefixes get the demo's Delphi 3 keys and its
# package files, so that `info` does the same work on each.
#
# Needs: a Release-like build of kestrix-cli in build/ (built when missing),
# python3, GNU time for the peak memory (Debian: time, installed with apt-get
# when missing), and 64-bit Wine (Debian: wine64, used from /usr/lib/wine/wine64,
# else wine64 on PATH). Without Wine only the demo prefix is timed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-21}

if [ ! -x /usr/bin/time ]; then
  echo "Installing: time" >&2
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq time >&2
fi

cli=$root/build/kestrix-cli
if [ ! -x "$cli" ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build" -j2 --target kestrix-cli >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
demo=$work/demo
cp -a "$root/tests/fixtures/demo-prefix" "$demo"

wine=
if [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver
elif command -v wine64 >/dev/null; then
  wine=$(command -v wine64)
  wineserver=$(command -v wineserver || true)
fi

big=${KX_BENCH_WINEPREFIX:-}
if [ -n "$wine" ] && { [ -z "$big" ] || [ ! -d "$big" ]; }; then
  [ -n "$big" ] || big=$work/wineboot
  echo "Making a prefix with wineboot in $big (about a minute) ..." >&2
  mkdir -p "$big"
  big=$(cd "$big" && pwd)
  if ! WINEPREFIX=$big WINEDEBUG=-all timeout 300 "$wine" wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wineboot failed; see the log below" >&2
    tail -20 "$work/wineboot.log" >&2
    exit 1
  fi
  [ -z "$wineserver" ] || WINEPREFIX=$big timeout 120 "$wineserver" -w || true
  # The demo's Delphi 3 keys and shared-DLL counts, and its package files.
  python3 - "$demo" "$big" <<'EOF'
import re, sys
demo, big = sys.argv[1], sys.argv[2]
for hive, wanted in (("user.reg", "Borland"), ("system.reg", "SharedDLLs")):
    text = open("%s/%s" % (demo, hive), encoding="utf-8").read()
    sections = re.split(r"\n(?=\[)", text)[1:]
    with open("%s/%s" % (big, hive), "a", encoding="utf-8") as out:
        for s in sections:
            if wanted in s.split("\n", 1)[0]:
                out.write("\n" + s.rstrip("\n") + "\n")
EOF
  cp -a "$demo/drive_c/Projects" "$big/drive_c/"
  mkdir -p "$big/drive_c/Program Files/Borland"
  cp -a "$demo/drive_c/Program Files/Borland/Delphi 3" "$big/drive_c/Program Files/Borland/"
  # In a 64-bit prefix C:\windows\system32 is syswow64 for 32-bit modules.
  for d in system32 syswow64; do
    [ ! -d "$big/drive_c/windows/$d" ] || cp "$demo"/drive_c/windows/system32/*.dpl "$big/drive_c/windows/$d/"
  done
elif [ -z "$wine" ]; then
  echo "No 64-bit Wine here (apt-get install wine64): timing the demo prefix only." >&2
  big=
fi

python3 - "$runs" "$cli" "$demo" "$big" <<'EOF'
import os, statistics, subprocess, sys, time
runs, cli, demo, big = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
package = "C:\\Projects\\Demo\\DemoComp.dpl"
prefixes = [("demo", demo)] + ([("wineboot", big)] if big else [])

def run(prefix):
    env = dict(os.environ, WINEPREFIX=prefix)
    t = time.perf_counter()
    p = subprocess.Popen([cli, "info", package], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t
    if status != 0:
        sys.exit("kestrix-cli info failed on %s (status %d)" % (prefix, status))
    return wall, usage.ru_utime + usage.ru_stime

# A child of this (large) interpreter reports at least the interpreter's own
# resident size as its peak: GNU time, a small parent, measures it instead.
def peak_kb(prefix):
    r = subprocess.run(["/usr/bin/time", "-f", "%M", cli, "info", package],
                       env=dict(os.environ, WINEPREFIX=prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, check=True)
    return int(r.stderr.split()[-1])

outputs = {}
for name, prefix in prefixes:
    outputs[name] = subprocess.run([cli, "info", package], env=dict(os.environ, WINEPREFIX=prefix),
                                   capture_output=True, check=True).stdout
if big and outputs["demo"] != outputs["wineboot"]:
    sys.exit("info prints something else on the wineboot prefix")
wall = {n: [] for n, _ in prefixes}
cpu = {n: [] for n, _ in prefixes}
peak = {n: [] for n, _ in prefixes}
# Interleaved rounds, so that a slow moment of the machine hits both.
for _ in range(runs):
    for name, prefix in prefixes:
        w, c = run(prefix)
        wall[name].append(w)
        cpu[name].append(c)
for _ in range(5):
    for name, prefix in prefixes:
        peak[name].append(peak_kb(prefix))
print("kestrix-cli info %s (%d runs each, interleaved)" % (package, runs))
print("%-10s %12s %12s %14s %12s" % ("prefix", "system.reg", "wall", "user+sys", "peak RSS"))
for name, prefix in prefixes:
    size = os.path.getsize(os.path.join(prefix, "system.reg"))
    print("%-10s %9.0f KB %9.1f ms %11.1f ms %9.0f KB" % (
        name, size / 1024, statistics.median(wall[name]) * 1000,
        statistics.median(cpu[name]) * 1000, statistics.median(peak[name])))
if big:
    # The ratio of each round's pair, then their median.
    def ratio(times):
        return statistics.median(b / a for a, b in zip(times["demo"], times["wineboot"]) if a > 0)
    print("wineboot/demo, median of the rounds: wall %.2f, user+sys %.2f; peak RSS %+.0f KB" % (
        ratio(wall), ratio(cpu), statistics.median(peak["wineboot"]) - statistics.median(peak["demo"])))
EOF
