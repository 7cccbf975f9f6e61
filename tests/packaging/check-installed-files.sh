#!/usr/bin/env bash
# Installs the build into a temporary folder and checks what a desktop makes of it: both
# programs, the menu entry and the software-centre description as their validators accept them,
# the icon at every theme size (of that size) and as SVG, the help page, and manual pages that
# render without a warning.
#   check-installed-files.sh <build folder>
set -euo pipefail
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/tolva-install-check.XXXXXX")
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
share="$root/usr/share"
problems=0
fail() {
  echo "FAIL: $*" >&2
  problems=$((problems + 1))
}

for program in tolva tolva-music-transfer; do
  [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is not installed"
done
[ -f "$share/tolva-music-transfer/help/index.html" ] || fail "the help page is not installed"

entry="$share/applications/tolva-music-transfer.desktop"
if [ ! -f "$entry" ]; then
  fail "the menu entry is not installed"
elif command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$entry" 2>&1) || true
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  grep -qx 'Exec=tolva-music-transfer' "$entry" || fail "the menu entry does not start tolva-music-transfer"
else
  echo "desktop-file-validate is missing: the menu entry is not validated" >&2
fi

metainfo="$share/metainfo/com.brenvik.TolvaMusicTransfer.metainfo.xml"
if [ ! -f "$metainfo" ]; then
  fail "the software-centre description is not installed"
elif command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --no-color "$metainfo" >&2 || fail "appstreamcli validate rejects $metainfo"
fi

# A PNG's width and height are the two 32-bit numbers at bytes 16 to 23.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }'; }
for size in 16 22 24 32 48 64 128 256; do
  icon="$share/icons/hicolor/${size}x${size}/apps/tolva-music-transfer.png"
  if [ ! -f "$icon" ]; then
    fail "no ${size}x${size} icon"
  elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
    fail "the ${size}x${size} icon is $(png_size "$icon")"
  fi
done
grep -q '<svg' "$share/icons/hicolor/scalable/apps/tolva-music-transfer.svg" 2>/dev/null ||
  fail "no scalable icon"

for page in tolva tolva-music-transfer; do
  man="$share/man/man1/$page.1.gz"
  if [ ! -f "$man" ]; then
    fail "no manual page for $page"
    continue
  fi
  out=$(zcat "$man" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1) || fail "groff fails on $page.1"
  [ -z "$out" ] || fail "groff warns on $page.1: $out"
done

[ "$problems" -eq 0 ] || exit 1
echo "installed files: all present and valid"
