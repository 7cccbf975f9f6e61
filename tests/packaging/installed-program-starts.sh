#!/usr/bin/env bash
# The installed desktop program starts: with setup done, in a temporary home, its window appears;
# it ends cleanly on SIGTERM. Run by scripts/package-check.sh inside a private network namespace
# (the program searches for players) on a display of its own (run-on-desktop.sh).
#   installed-program-starts.sh <program>
set -u
prog=$1
home=$(mktemp -d "${TMPDIR:-/tmp}/tolva-installed-start.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  cat "$home/program.log" >&2 2>/dev/null
  exit 1
}

. "$(dirname "$0")/../support/profile.sh"
use_setup_profile "$home"

"$prog" >"$home/program.log" 2>&1 &
pid=$!
shown=
for _ in $(seq 300); do
  if xdotool search --onlyvisible --name '^Tolva Music Transfer$' >/dev/null 2>&1; then
    shown=1
    break
  fi
  kill -0 "$pid" 2>/dev/null || fail "the program ended before showing a window"
  sleep 0.1
done
[ -n "$shown" ] || fail "no window within 30 s"
kill -TERM "$pid"
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "the program ended with $status on SIGTERM"
echo "the installed program showed its window and ended on SIGTERM"
