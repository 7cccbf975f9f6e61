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
# The command runs in the background, so that a stop (SIGTERM, SIGINT, SIGHUP) reaches this shell
# at once and is passed on to the command, which ends in its own way (the desktop driver quits the
# program and the player it started); dbus-run-session then ends its bus and returns the command's
# exit code. The signal goes to the command itself, whose process id it writes to a file:
# dbus-run-session would end alone on it and leave the bus and the command behind.
command_pid="$runtime/command.pid"
dbus-run-session -- sh -c 'echo "$$" >"$0" && exec "$@"' "$command_pid" "$@" &
session=$!
stopped=
stop() {
  stopped=yes
  local pid=""
  for _ in $(seq 100); do # the file is written as the command starts
    pid=$(cat "$command_pid" 2>/dev/null)
    [ -n "$pid" ] && break
    kill -0 "$session" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -TERM "${pid:-$session}" 2>/dev/null
}
trap stop TERM INT HUP
# A wait that a signal cuts short is repeated: the second one returns the command's exit code.
while :; do
  stopped=
  wait "$session"
  rc=$?
  [ -n "$stopped" ] || break
done
exit "$rc"
