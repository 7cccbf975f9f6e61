#!/usr/bin/env bash
# Runs a desktop test program on a display and a session bus of its own: a private X server
# (Xvfb; -noreset keeps root properties when the last client leaves) inside a private D-Bus
# session, so nothing the test does reaches the user's desktop. Exit code 77 (a skipped test for
# CTest) when Xvfb or dbus-run-session is missing, with the reason.
set -u

for tool in xvfb-run dbus-run-session; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)." >&2
    exit 77
  fi
done
# The runtime folder of the test's own: single-instance locks and sockets stay out of the user's.
runtime=$(mktemp -d "${TMPDIR:-/tmp}/tolva-desktop-test.XXXXXX") || exit 1
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
unset WAYLAND_DISPLAY XDG_ACTIVATION_TOKEN DESKTOP_STARTUP_ID
export QT_QPA_PLATFORM=xcb
dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$@"
