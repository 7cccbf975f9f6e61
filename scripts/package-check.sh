#!/usr/bin/env bash
# Installs the Debian package into this machine, checks that both programs run, removes it and
# checks that none of its files is left. Changes the machine: run as root on a machine meant for
# it (CI's throw-away machine).
#   scripts/package-check.sh [package]     (default: build it with scripts/package.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "$(id -u)" -eq 0 ] || {
  echo "package-check: needs root (it installs the package into this machine)" >&2
  exit 1
}
deb=${1:-$(scripts/package.sh)}
deb=$(realpath "$deb")
name=$(dpkg-deb -f "$deb" Package)
echo "package-check: $(basename "$deb"), depends on: $(dpkg-deb -f "$deb" Depends)"

if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then
  dpkg -r "$name" >/dev/null
fi
# What of the package's paths the machine had before (shared folders such as /usr/bin).
work=$(mktemp -d "${TMPDIR:-/tmp}/tolva-package-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -c "$deb" | awk '{ print substr($0, index($0, "./") + 1) }' | sed 's:/$::; /^$/d' >"$work/contents"
while read -r path; do
  if [ -e "$path" ]; then echo "$path"; fi
done <"$work/contents" >"$work/before"

dpkg -i "$deb"
problems=0
fail() {
  echo "package-check: FAIL: $*" >&2
  problems=$((problems + 1))
}
dpkg -L "$name" >"$work/listed"
/usr/bin/tolva --version || fail "tolva --version does not run"
tests/support/run-in-netns.sh tests/support/run-on-desktop.sh \
  tests/packaging/installed-program-starts.sh /usr/bin/tolva-music-transfer ||
  fail "the installed desktop program does not start"

dpkg -r "$name"
while read -r path; do
  [ "$path" = "/." ] && continue
  if [ -e "$path" ] && ! grep -qxF "$path" "$work/before"; then
    fail "left behind after removal: $path"
  fi
done <"$work/listed"
[ "$problems" -eq 0 ] || exit 1
echo "package-check: installed, both programs ran, removed without a trace"
