#!/usr/bin/env bash
# Times kestrix-cli against readpe and pefile on one large package, whole
# process runs in the same session, and prints medians and ratios.
#
# usage: bench/compare.sh [FILE] [RUNS]
#   FILE  a package to time (default: one built here with the i686 MinGW
#         toolchain: 500 units, 20,002 exports, 502 contained units)
#   RUNS  runs per command (default 21); the median is reported
# With KX_BENCH_KEEP=DIR the built package (and the vcl30.dpl it requires)
# are copied to DIR for later runs with FILE.
#
# Needs: a Release-like build of kestrix-cli in build/ (built when missing),
# python3, readpe (Debian: pev), python3-pefile, and for the default file
# gcc-mingw-w64-i686. Missing Debian packages are installed with apt-get.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
file=${1:-}
runs=${2:-21}

need=()
command -v python3 >/dev/null || need+=(python3)
command -v readpe >/dev/null || need+=(pev)
/usr/bin/python3 -c 'import pefile' 2>/dev/null || need+=(python3-pefile)
if [ -z "$file" ]; then
  command -v i686-w64-mingw32-gcc >/dev/null || need+=(gcc-mingw-w64-i686)
  command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}" >&2
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >&2
fi

cli=$root/build/kestrix-cli
if [ ! -x "$cli" ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build" -j2 --target kestrix-cli >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$file" ]; then
  # 500 units of 40 exports each (classes with members, system routines,
  # procedures), plus Initialize and Finalize: 20,002 exports; the package
  # contains the 500 units, SysInit and its main unit.
  src=$work/src
  mkdir -p "$src"
  python3 - "$src" "$root/tests/fixtures/src/mkres.py" <<'EOF'
import os, subprocess, sys
src, mkres = sys.argv[1], sys.argv[2]
names = []
for u in range(500):
    unit = "Unit%d" % (1000 + u)
    rest = []
    for cls in ("TAlpha", "TBeta"):
        rest += ["." + cls, cls] + ["%s.Method%d" % (cls, m) for m in range(12)]
    rest += ["Register", "Initialization", "Finalization"]
    while len(rest) < 40:
        rest.append("Proc%d" % len(rest))
    names += ["%s.%s@%08X" % (unit, r, (u * 40 + i) * 2654435761 % 2**32) for i, r in enumerate(rest)]
with open(os.path.join(src, "big.c"), "w") as c:
    c.write("int __stdcall DllMain(void* m, unsigned long r, void* x)"
            " { (void)m; (void)r; (void)x; return 1; }\n")
    for i in range(len(names) + 2):
        c.write("int __stdcall r%d(void) { return %d; }\n" % (i, i))
with open(os.path.join(src, "big.def"), "w") as d:
    d.write('LIBRARY "big.dpl"\nEXPORTS\n  Initialize=r0@0\n  Finalize=r1@0\n')
    for i, n in enumerate(names):
        d.write('  "%s"=r%d@0\n' % (n, i + 2))
with open(os.path.join(src, "package.txt"), "w") as p:
    p.write("flags 0x40000004\nrequires vcl30\n")
    for u in range(500):
        p.write("contains 0x00 Unit%d\n" % (1000 + u))
    p.write("contains 0x1C SysInit\ncontains 0x03 big\ndescription Benchmark package\n")
with open(os.path.join(src, "big.rc"), "w") as r:
    r.write('LANGUAGE 0, 0\nPACKAGEINFO RCDATA "packageinfo.bin"\n'
            'DESCRIPTION RCDATA "description.bin"\n')
subprocess.check_call([sys.executable, mkres, os.path.join(src, "package.txt"), src])
EOF
  # The package requires vcl30, which the loader must find beside it.
  cp "$root/tests/fixtures/bin/vcl30.dpl" "$work/vcl30.dpl"
  (cd "$src" &&
    i686-w64-mingw32-gcc -std=c99 -O1 -ffreestanding -fno-builtin -c big.c -o big.o &&
    i686-w64-mingw32-windres -J rc -O coff -i big.rc -o big.res.o &&
    i686-w64-mingw32-gcc -shared -nostdlib -s -Wl,--no-insert-timestamp -Wl,-e,_DllMain@12 \
      -Wl,--image-base=0x41000000 -o "$work/big.dpl" big.o big.res.o big.def)
  file=$work/big.dpl
  if [ -n "${KX_BENCH_KEEP:-}" ]; then
    mkdir -p "$KX_BENCH_KEEP"
    cp "$file" "$work/vcl30.dpl" "$KX_BENCH_KEEP/"
  fi
fi
file=$(cd "$(dirname "$file")" && pwd)/$(basename "$file")

# An empty prefix (drive Z: only), so that no registry of this machine is read.
export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -s / "$WINEPREFIX/dosdevices/z:"

python3 - "$runs" "$cli" "$file" <<'EOF'
import statistics, subprocess, sys, time
runs, cli, f = int(sys.argv[1]), sys.argv[2], sys.argv[3]
pefile = ("import pefile,sys; pe=pefile.PE(sys.argv[1]);"
          "[s.name for s in pe.DIRECTORY_ENTRY_EXPORT.symbols]")
commands = [
    ("readpe -e", ["readpe", "-e", f]),
    ("readpe -i", ["readpe", "-i", f]),
    ("pefile exports", ["/usr/bin/python3", "-c", pefile, f]),
    ("kestrix-cli info", [cli, "info", f]),
    ("kestrix-cli exports", [cli, "exports", f]),
    ("kestrix-cli structure", [cli, "structure", f]),
    ("kestrix-cli imports", [cli, "imports", f]),
    ("kestrix-cli resources", [cli, "resources", f]),
    ("kestrix-cli exports --as-data", [cli, "exports", "--as-data", f]),
]
for name, argv in commands:
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit("%s failed (%d): %s" % (name, r.returncode, r.stderr.decode(errors="replace")))
times = {name: [] for name, _ in commands}
# Interleaved rounds, so that a slow moment of the machine hits every command.
for _ in range(runs):
    for name, argv in commands:
        t = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[name].append(time.perf_counter() - t)
base = statistics.median(times["readpe -e"])
print("file: %s (%d runs each)" % (f, runs))
print("%-32s %10s %18s" % ("command", "median", "vs readpe -e"))
for name, _ in commands:
    m = statistics.median(times[name])
    print("%-32s %8.1f ms %17.2fx" % (name, m * 1000, m / base))
EOF
