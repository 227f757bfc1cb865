#!/usr/bin/env bash
# Checks the committed MinGW fixtures (tests/fixtures/bin) against their
# sources with two independent PE parsers, python3-pefile and readpe (pev):
#   - exported names (and by-ordinal-only exports) against the module's .def,
#   - imported modules and names against the KX_IMPORT lines of its .c,
#   - every required package of package.txt is among the imported modules,
#   - PACKAGEINFO, DESCRIPTION and PACKAGEOPTIONS bytes against mkres.py's output,
#     and PACKAGEOPTIONS against its layout (three strings from byte 40, the
#     last one the DESCRIPTION text),
#   - the image base against tests/fixtures/build-fixtures.sh.
# Debian packages: python3-pefile, pev.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
command -v readpe >/dev/null || { echo "check-fixtures: readpe (Debian package pev) not found" >&2; exit 1; }
/usr/bin/python3 -c 'import pefile' 2>/dev/null ||
  { echo "check-fixtures: python3-pefile not installed" >&2; exit 1; }

exec /usr/bin/python3 - "$root" <<'PYTHON'
import os
import re
import subprocess
import sys
import tempfile

import pefile

root = sys.argv[1]
fixtures = os.path.join(root, 'tests', 'fixtures')
src = os.path.join(fixtures, 'src')
binf = os.path.join(fixtures, 'bin')
failures = []
checked = 0


def fail(module, text):
    failures.append('%s: %s' % (module, text))


def def_exports(path):
    """Named exports and (name, ordinal) of NONAME exports of a .def file."""
    named, noname = set(), set()
    in_exports = False
    for line in open(path, encoding='utf-8'):
        line = line.split(';', 1)[0].strip()
        if not line:
            continue
        if line == 'EXPORTS':
            in_exports = True
            continue
        if not in_exports:
            continue
        m = re.match(r'("([^"]*)"|([A-Za-z_][A-Za-z0-9_]*))(=\S+)?(\s+@(\d+))?(\s+NONAME)?$', line)
        if not m:
            sys.exit('cannot read %s line %r' % (path, line))
        name = m.group(2) if m.group(2) is not None else m.group(3)
        if m.group(7):
            noname.add(int(m.group(6)))
        else:
            named.add(name)
    return named, noname


def source_imports(path):
    """{(module lower case, name)} from KX_IMPORT / KX_IMPORT_API lines."""
    out = set()
    text = open(path, encoding='utf-8').read()
    for m in re.finditer(r'KX_IMPORT\(\s*\w+\s*,\s*"([^"]+)"\s*,\s*"([^"]+)"\s*\)', text):
        out.add((m.group(1).lower(), m.group(2)))
    for m in re.finditer(r'KX_IMPORT_API\(\s*\w+\s*,\s*"([^"]+)"\s*,\s*(\w+)\s*,\s*\d+\s*\)', text):
        out.add((m.group(1).lower(), m.group(2)))
    return out


def readpe_exports(path):
    text = subprocess.run(['readpe', '-e', path], check=True, capture_output=True, text=True,
                          encoding='latin-1').stdout
    names = set()
    for line in text.splitlines():
        m = re.match(r'\s+Name:\s+(.*)$', line)
        if m:
            names.add(m.group(1))
    return names


def readpe_imports(path):
    text = subprocess.run(['readpe', '-i', path], check=True, capture_output=True, text=True,
                          encoding='latin-1').stdout
    out, dll, in_functions = set(), None, False
    for line in text.splitlines():
        s = line.strip()
        if s == 'Library':
            dll, in_functions = None, False
        elif s == 'Functions':
            in_functions = True
        elif s.startswith('Name:'):
            value = s[len('Name:'):].strip()
            if in_functions:
                out.add((dll, value))
            else:
                dll = value
        elif s.startswith('Ordinal:') and in_functions:
            out.add((dll, '#' + s[len('Ordinal:'):].strip()))
    return out


def resource(pe, type_id, name):
    if not hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE'):
        return None
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != type_id:
            continue
        for n in t.directory.entries:
            if n.name is not None and str(n.name) == name:
                entry = n.directory.entries[0].data.struct
                return pe.get_data(entry.OffsetToData, entry.Size)
    return None


def text_of(raw, codepage):
    """A name as the module's code page reads it (Windows-1252: byte for byte)."""
    return raw.decode('latin-1') if codepage == 'cp1252' else raw.decode(codepage)


modules = []
for line in open(os.path.join(fixtures, 'build-fixtures.sh'), encoding='utf-8'):
    m = re.match(r'(?:CODEPAGE=(\d+) )?module (\S+) (\S+) (0x[0-9A-Fa-f]+) (dll|exe)\b', line)
    if m:
        modules.append((m.group(2), m.group(3), int(m.group(4), 16), m.group(5),
                        'cp' + (m.group(1) or '1252')))
if not modules:
    sys.exit('no module lines found in build-fixtures.sh')

for name, output, base, kind, codepage in modules:
    path = os.path.join(binf, output)
    if not os.path.exists(path):
        fail(output, 'missing from tests/fixtures/bin')
        continue
    checked += 1
    pe = pefile.PE(path)
    if pe.OPTIONAL_HEADER.ImageBase != base:
        fail(output, 'image base %#x, build script says %#x' % (pe.OPTIONAL_HEADER.ImageBase, base))
    is_dll = bool(pe.FILE_HEADER.Characteristics & 0x2000)
    if is_dll != (kind == 'dll'):
        fail(output, 'IMAGE_FILE_DLL is %s' % is_dll)

    # Exports.
    base_name = name.split('/')[-1]  # real/vcl30: src/real/vcl30/vcl30.def
    def_path = os.path.join(src, name, base_name + '.def')
    want_named, want_noname = def_exports(def_path) if os.path.exists(def_path) else (set(), set())
    got_named, got_noname = set(), set()
    if hasattr(pe, 'DIRECTORY_ENTRY_EXPORT'):
        for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols:
            if sym.name is None:
                got_noname.add(sym.ordinal)
            else:
                got_named.add(text_of(sym.name, codepage))
    if got_named != want_named:
        fail(output, 'pefile exports differ from the .def: missing %s, extra %s'
             % (sorted(want_named - got_named), sorted(got_named - want_named)))
    if got_noname != want_noname:
        fail(output, 'by-ordinal exports %s, .def says %s' % (sorted(got_noname), sorted(want_noname)))
    rp_named = {text_of(n.encode('latin-1'), codepage) for n in readpe_exports(path)}
    rp_named -= {os.path.basename(output), ''}
    if rp_named != want_named:
        fail(output, 'readpe exports differ from the .def: missing %s, extra %s'
             % (sorted(want_named - rp_named), sorted(rp_named - want_named)))

    # Imports.
    want_imports = source_imports(os.path.join(src, name, base_name + '.c'))
    got_imports = set()
    for d in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        for imp in d.imports:
            value = imp.name.decode('latin-1') if imp.name else '#%d' % imp.ordinal
            # pefile shows a name with bytes above 0x7F as "*invalid*": read it raw.
            dll = pe.get_string_at_rva(d.struct.Name)
            got_imports.add((text_of(dll, codepage).lower(), value))
    if got_imports != want_imports:
        fail(output, 'pefile imports differ from the source: missing %s, extra %s'
             % (sorted(want_imports - got_imports), sorted(got_imports - want_imports)))
    rp_imports = {(text_of(dll.encode('latin-1'), codepage).lower(), value)
                  for dll, value in readpe_imports(path)}
    if rp_imports != want_imports:
        fail(output, 'readpe imports differ from the source: missing %s, extra %s'
             % (sorted(want_imports - rp_imports), sorted(rp_imports - want_imports)))

    # Package information.
    spec = os.path.join(src, name, 'package.txt')
    info = resource(pe, 10, 'PACKAGEINFO')
    desc = resource(pe, 10, 'DESCRIPTION')
    opts = resource(pe, 10, 'PACKAGEOPTIONS')
    if not os.path.exists(spec):
        if info is not None:
            fail(output, 'has PACKAGEINFO but no package.txt')
        continue
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, os.path.join(src, 'mkres.py'), spec, tmp], check=True)
        want_info = open(os.path.join(tmp, 'packageinfo.bin'), 'rb').read()
        desc_file = os.path.join(tmp, 'description.bin')
        want_desc = open(desc_file, 'rb').read() if os.path.exists(desc_file) else None
        opts_file = os.path.join(tmp, 'packageoptions.bin')
        want_opts = open(opts_file, 'rb').read() if os.path.exists(opts_file) else None
    if info != want_info:
        fail(output, 'PACKAGEINFO differs from package.txt')
    if desc != want_desc:
        fail(output, 'DESCRIPTION differs from package.txt')
    # A resource's size may be padded to a multiple of four.
    if (opts is None) != (want_opts is None) or (opts is not None and
                                                 opts.rstrip(b'\0') != want_opts.rstrip(b'\0')):
        fail(output, 'PACKAGEOPTIONS differs from package.txt')
    if want_opts is not None and int.from_bytes(want_opts[36:40], 'little') != base:
        fail(output, 'PACKAGEOPTIONS image base differs from the build script')
    if opts is not None:
        # From byte 40: conditional defines, unit aliases and description, each
        # a length byte and text, then nothing but zero bytes; the description
        # is the DESCRIPTION text where both exist.
        pos, strings = 40, []
        while len(strings) < 3 and pos < len(opts) and pos + 1 + opts[pos] <= len(opts):
            strings.append(opts[pos + 1:pos + 1 + opts[pos]])
            pos += 1 + opts[pos]
        if opts[0] != 0x30 or len(strings) < 3:
            fail(output, 'PACKAGEOPTIONS does not hold 0x30 and three strings')
        elif opts[pos:].strip(b'\0'):
            fail(output, 'PACKAGEOPTIONS has bytes other than zeros after its strings')
        elif desc is not None and strings[2].decode(codepage) != desc.decode('utf-16-le').rstrip('\0'):
            fail(output, 'the description in PACKAGEOPTIONS differs from DESCRIPTION')
    imported_modules = {dll for dll, _ in got_imports}
    for line in open(spec, encoding='utf-8'):
        if line.startswith('requires '):
            req = line.split()[1].lower() + '.dpl'
            if req not in imported_modules:
                fail(output, 'requires %s but does not import it' % req)

for f in failures:
    print('FAIL ' + f)
print('check-fixtures: %d modules checked, %d problems' % (checked, len(failures)))
sys.exit(1 if failures or checked == 0 else 0)
PYTHON
