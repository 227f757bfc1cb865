#!/usr/bin/env bash
# Kills kestrix-cli while it changes the registry and checks that user.reg
# always holds the state before the change or the state after it.
#
#   tools/registry-kill-test.sh [--runs N] [--seed S] [--build-dir DIR] [--no-wine]
#
# Works on a copy of the demo prefix whose Delphi 3 keys also hold names and
# texts outside Windows-1252. Each run picks one change (`known up`, `known
# down`, `known add`, `known remove`, `config set`), runs it once to the end to
# learn the state after it, puts the state before back, runs it again and
# kills it (SIGKILL) at a random moment. The hive must then read as one of
# the two states (time stamps aside). When Wine runs here (64-bit Wine is
# enough), a few of the states are also exported with `wine reg export` into
# a booted Wine prefix and compared value by value; --no-wine skips that.
# Defaults: 300 runs, Wine read-back when Wine runs. test.sh runs a short
# version (--runs 40 --no-wine).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec /usr/bin/python3 - "$root" "$@" <<'PYTHON'
import argparse, json, os, random, re, shutil, signal, subprocess, sys, tempfile, time

root = sys.argv[1]
ap = argparse.ArgumentParser(prog="registry-kill-test.sh")
ap.add_argument("--runs", type=int, default=300)
ap.add_argument("--seed", type=int, default=None)
ap.add_argument("--build-dir", default=os.path.join(root, "build"))
ap.add_argument("--no-wine", action="store_true")
args = ap.parse_args(sys.argv[2:])
seed = args.seed if args.seed is not None else int(time.time())
rng = random.Random(seed)
cli = os.path.abspath(os.path.join(args.build_dir, "kestrix-cli"))  # the runs start in the prefix
if not os.access(cli, os.X_OK):
    sys.exit(f"registry-kill-test: {cli} not built")

work = tempfile.mkdtemp(prefix="kx-kill-")
prefix = os.path.join(work, "prefix")
shutil.copytree(os.path.join(root, "tests/fixtures/demo-prefix"), prefix, symlinks=True)
user_reg = os.path.join(prefix, "user.reg")

# Names and texts the code page cannot hold: two packages whose names differ
# only there, a Cyrillic folder in the library path.
def esc(text):
    return "".join(c if ord(c) < 0x80 else "\\x%04x" % ord(c) for c in text)
with open(user_reg, encoding="latin-1") as f:
    reg = f.read()
known_hdr = "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Known Packages]"
at = reg.index("\n\n", reg.index(known_hdr))
extra = ('"C:\\\\%s\\\\x.dpl"="first"\n"C:\\\\%s\\\\x.dpl"="second"'
         % (esc("\u5f00\u53d1"), esc("\u5de5\u5177")))
reg = reg[:at] + "\n" + extra + reg[at:]
reg = reg.replace('"SearchPath"="', '"SearchPath"="C:\\\\%s;' % esc("\u041f\u0440\u043e\u0435\u043a\u0442"), 1)
with open(user_reg, "w", encoding="latin-1") as f:
    f.write(reg)
shutil.copy(os.path.join(prefix, "drive_c/Projects/Demo/DemoComp.dpl"),
            os.path.join(prefix, "drive_c/Projects/Demo/Extra.dpl"))

env = dict(os.environ, WINEPREFIX=prefix)

def run(argv, kill_after=None):
    p = subprocess.Popen([cli] + argv, cwd=work, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    if kill_after is None:
        out, _ = p.communicate()
        return p.returncode, out
    time.sleep(kill_after)
    p.send_signal(signal.SIGKILL)
    p.communicate()
    return p.returncode, b""

def read():
    with open(user_reg, "rb") as f:
        return f.read()

def write(data):
    tmp = user_reg + ".restore"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, user_reg)

# Time stamps of changed keys are the one difference allowed.
def normal(data):
    lines = []
    for line in data.split(b"\n"):
        if line.startswith(b"#time="):
            continue
        lines.append(re.sub(rb"^(\[.*\]) \d+$", rb"\1", line))
    return b"\n".join(lines)

def packages():
    code, out = run(["known", "--json"])
    if code != 0:
        sys.exit("registry-kill-test: known --json failed")
    return [(r["Location"] + r["Name"], r["Status"]) for r in json.loads(out)]

options = ["Delphi Library Path", "Default Package", "Pack. DLL Out", "Pack. DCP Out",
           "Show Details", "Warn On Rebuild", "Detailed Exception", "Fly Over Watches",
           "CPU Registers"]
texts = ["C:\\Out", "C:\\\u041f\u0440\u043e\u0435\u043a\u0442\\Lib", "C:\\\u5f00\u53d1", ""]

def pick():
    rows = packages()
    kind = rng.choice(["up", "down", "remove", "add", "set", "set"])
    if kind in ("up", "down", "remove") and rows:
        return ["known", kind, rng.choice(rows)[0]]
    if kind == "add":
        present = {p.lower() for p, _ in rows}
        for cand in ("C:\\Projects\\Demo\\Extra.dpl", "C:\\Projects\\Demo\\DemoComp.dpl"):
            if cand.lower() not in present:
                return ["known", "add", cand]
    name = rng.choice(options)
    flag = name in options[4:]
    return ["config", "set", name, rng.choice(["0", "1", "2"]) if flag else rng.choice(texts)]

# A few states to read back with Wine.
samples = []
durations = {}
kills = ended = at_before = at_after = leftovers = 0
for i in range(args.runs):
    cmd = pick()
    before = read()
    t0 = time.monotonic()
    run(cmd)
    durations[cmd[1]] = time.monotonic() - t0
    after = read()
    write(before)
    delay = rng.uniform(0, durations[cmd[1]] * 1.2)
    code, _ = run(cmd, kill_after=delay)
    got = read()
    for name in os.listdir(prefix):
        if name.startswith(".user.reg.kx-"):
            os.unlink(os.path.join(prefix, name))  # a temporary file the kill left
            leftovers += 1
    if code == -signal.SIGKILL:
        kills += 1
    else:
        ended += 1
    if normal(got) == normal(after):
        at_after += 1
    elif normal(got) == normal(before):
        at_before += 1
    else:
        bad = os.path.join(work, "bad")
        os.makedirs(bad, exist_ok=True)
        for n, d in (("before", before), ("after", after), ("got", got)):
            with open(os.path.join(bad, n + ".reg"), "wb") as f:
                f.write(d)
        sys.exit(f"registry-kill-test: run {i} ({' '.join(cmd)}), killed after {delay:.3f} s: "
                 f"user.reg is neither the state before nor after (seed {seed}; files in {bad})")
    if after != before and len(samples) < 4 and rng.random() < 0.1:
        samples.append(got)

print(f"registry-kill-test: {args.runs} runs (seed {seed}): {kills} killed, {ended} ended first; "
      f"hive before the change {at_before}, after it {at_after}; "
      f"{leftovers} temporary files left by kills removed")

def wine_readback():
    wine, server = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
    if not (os.access(wine, os.X_OK) and os.access(server, os.X_OK)):
        wine, server = shutil.which("wine"), shutil.which("wineserver")
    if not wine or not server:
        print("registry-kill-test: Wine not installed, no read-back")
        return
    wp = os.path.join(work, "wine")
    wenv = dict(os.environ, WINEPREFIX=wp, WINEDEBUG="-all")
    def sh(argv, timeout):
        try:
            return subprocess.run(argv, env=wenv, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1
    if sh([wine, "wineboot", "-i"], 240) != 0 or sh([server, "-w"], 60) != 0:
        print("registry-kill-test: Wine does not run here, no read-back")
        return
    with open(os.path.join(wp, "user.reg"), "rb") as f:
        base = f.read()
    def sections(data):
        return b"\n".join(s for s in data.split(b"\n\n") if s.startswith(b"[Software\\\\Borland"))
    for n, state in enumerate(samples):
        with open(os.path.join(wp, "user.reg"), "wb") as f:
            f.write(base.rstrip(b"\n") + b"\n\n" + sections(state) + b"\n")
        write(state)
        code, out = run(["config", "--json"])
        ours = json.loads(out)
        exported = os.path.join(wp, "drive_c", "known.reg")
        key = "HKCU\\Software\\Borland\\Delphi\\3.0\\Known Packages"
        ok = sh([wine, "reg", "export", key, "C:\\known.reg", "/y"], 120) == 0
        sh([server, "-k"], 30)
        if not ok:
            sys.exit(f"registry-kill-test: wine reg export failed for state {n}")
        with open(exported, "rb") as f:
            text = f.read().decode("utf-16")
        theirs = set()
        for line in text.splitlines():
            m = re.match(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', line)
            if m:
                un = lambda s: re.sub(r"\\(.)", r"\1", s)
                theirs.add((un(m.group(1)), un(m.group(2))))
        mine = {(k["path"], k["description"]) for k in ours["known"]}
        if theirs != mine:
            sys.exit(f"registry-kill-test: Wine reads state {n} differently:\n"
                     f"  Wine:    {sorted(theirs)}\n  Kestrix: {sorted(mine)}")
    print(f"registry-kill-test: {len(samples)} states read back by Wine as Kestrix reads them")

if not args.no_wine and samples:
    wine_readback()
shutil.rmtree(work, ignore_errors=True)
PYTHON
