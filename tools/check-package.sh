#!/usr/bin/env bash
# Builds the Debian package in a configured build folder and checks it: its
# file list, that its dependencies are runtime packages (no -dev), its
# desktop entry and MIME types; then unpacks it into a scratch root and runs
# the installed programs and renders the manual pages from there.
# Usage: tools/check-package.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
fail() { echo "check-package: $*" >&2; exit 1; }

rm -f "$build"/kestrix_*.deb
log=$(mktemp)
cmake --build "$build" -j2 --target package >"$log" 2>&1 || { cat "$log"; rm -f "$log"; fail "package build failed"; }
rm -f "$log"
debs=("$build"/kestrix_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one kestrix_*.deb in $build"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

expected='./usr/bin/kestrix
./usr/bin/kestrix-cli
./usr/share/applications/kestrix.desktop
./usr/share/icons/hicolor/scalable/apps/kestrix.svg
./usr/share/man/man1/kestrix-cli.1.gz
./usr/share/man/man1/kestrix.1.gz
./usr/share/mime/packages/kestrix.xml'
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "unexpected file list:"$'\n'"$files"

depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
  grep -qxF "$p" <<<"$names" || fail "Depends lacks $p: $depends"
done
! grep -q -- '-dev$' <<<"$names" || fail "Depends names a -dev package: $depends"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/kestrix.desktop"
fi
if command -v update-mime-database >/dev/null; then
  mkdir "$root/check" && cp -r "$root/usr/share/mime" "$root/check/mime"
  XDG_DATA_DIRS="$root/check" update-mime-database "$root/check/mime"
  for t in 'application/x-delphi-package:\*\.dpl' 'application/x-cbuilder-package:\*\.bpl' \
           'application/x-delphi-compiled-package:\*\.dcp' 'text/x-delphi-package-source:\*\.dpk'; do
    grep -q "^$t$" "$root/check/mime/globs" || fail "MIME type missing: $t"
  done
fi

# Run from the scratch root, without a display.
noDisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[ "$("${noDisplay[@]}" "$root/usr/bin/kestrix-cli" --version)" = "kestrix-cli $version" ] ||
  fail "kestrix-cli --version does not say $version"
[ "$("${noDisplay[@]}" "$root/usr/bin/kestrix" --version)" = "kestrix $version" ] ||
  fail "kestrix --version does not say $version"
"$root/usr/bin/kestrix-cli" help deploy | grep -q -- '--strict' || fail "help deploy"

for page in kestrix kestrix-cli; do
  err=$(mktemp -p "$root")
  text=$(MANWIDTH=80 man --warnings -P cat -l "$root/usr/share/man/man1/$page.1.gz" 2>"$err")
  [ ! -s "$err" ] || fail "man $page: $(cat "$err")"
  grep -q '^NAME' <<<"$text" && grep -q "^       $page " <<<"$text" || fail "man $page renders no NAME"
done
echo "Package $deb: files, dependencies, --version, help and manual pages OK."
