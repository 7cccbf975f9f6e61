#!/usr/bin/env bash
# Runs a desktop test program on a display and a session bus of its own: a private X server
# (Xvfb; -noreset keeps root properties when the last client leaves) inside a private D-Bus
# session, so nothing the test does reaches the user's desktop. Xvfb picks a free display number
# itself (-displayfd), so tests that CTest runs in parallel never race for one. Exit code 77 (a
# skipped test for CTest) when Xvfb or dbus-run-session is missing, with the reason.
set -u

for tool in Xvfb dbus-run-session; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)." >&2
    exit 77
  fi
done
# The runtime folder of the test's own: single-instance locks and sockets stay out of the user's.
runtime=$(mktemp -d "${TMPDIR:-/tmp}/tolva-desktop-test.XXXXXX") || exit 1
chmod 700 "$runtime"
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$runtime/display" 2>"$runtime/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do
  [ -s "$runtime/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
display=$(head -n 1 "$runtime/display" 2>/dev/null)
if [ -z "$display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$runtime/xvfb.log" >&2
  exit 1
fi

export DISPLAY=":$display" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XDG_ACTIVATION_TOKEN DESKTOP_STARTUP_ID
dbus-run-session -- "$@"
