#!/usr/bin/env bash
# The real desktop program on a private X server: a second start brings the first one's window
# back to the screen and ends, leaving one process; the first ends cleanly on SIGTERM; without a
# reachable display the program says so and exits with 1. Run by CTest inside a private network
# namespace (the program searches for players) and on a display of its own (run-on-desktop.sh).
set -u
prog=$1
home=$(mktemp -d "${TMPDIR:-/tmp}/tolva-double-start.XXXXXX")
first=
cleanup() {
  [ -n "$first" ] && kill -9 "$first" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  for log in "$home"/*.log; do echo "--- $log" >&2; cat "$log" >&2; done
  exit 1
}

. "$(dirname "$0")/../support/profile.sh"
use_setup_profile "$home"

# Waits up to about 20 s for a condition.
wait_for() {
  for _ in $(seq 200); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}
visible_window() { xdotool search --onlyvisible --name '^Tolva Music Transfer$' 2>/dev/null | head -n 1; }

"$prog" >"$home/first.log" 2>&1 &
first=$!
wait_for '[ -n "$(visible_window)" ]' || fail "the first start shows no window"
window=$(visible_window)

# OK (the focused button) hides the window; the program stays.
xdotool key --window "$window" space
wait_for '[ -z "$(visible_window)" ]' || fail "OK did not hide the window"
kill -0 "$first" 2>/dev/null || fail "the first start ended when its window was hidden"

"$prog" >"$home/second.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the second start ended with $status"
wait_for '[ -n "$(visible_window)" ]' || fail "the second start did not bring the window back"
# Exactly one program of this profile runs (other tests may run the same program meanwhile).
ours() {
  for pid in $(pgrep -f "^$prog"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "HOME=$home" && echo "$pid"
  done
}
[ "$(ours | wc -l)" -eq 1 ] || fail "not exactly one program left: $(ours | tr '\n' ' ')"
kill -0 "$first" 2>/dev/null || fail "the first start is gone"

kill -TERM "$first"
wait "$first"
status=$?
first=
[ "$status" -eq 0 ] || fail "the first start ended with $status on SIGTERM"

# A first start ends on SIGTERM while its setup announcement is open, without running on.
rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
"$prog" >"$home/announce.log" 2>&1 &
first=$!
wait_for '[ -n "$(visible_window)" ]' || fail "the first start shows no setup announcement"
kill -TERM "$first"
wait_for '! kill -0 "$first" 2>/dev/null' || fail "SIGTERM during the setup announcement did not end the program"
wait "$first"
status=$?
first=
[ "$status" -eq 0 ] || fail "the program ended with $status on SIGTERM during the setup announcement"

# No display: a clear message and exit code 1, not a crash.
DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= "$prog" >"$home/nodisplay.log" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "without a display the program ended with $status"
grep -q "no display" "$home/nodisplay.log" || fail "without a display the program said nothing clear"
DISPLAY=:4999 WAYLAND_DISPLAY= QT_QPA_PLATFORM= "$prog" >"$home/baddisplay.log" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "with an unreachable display the program ended with $status"
echo "double start: one window brought back, one process, clean end"
