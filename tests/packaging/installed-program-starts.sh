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

export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_MUSIC_DIR=$home/Music
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=C.UTF-8
# Setup already done: the settings window starts, without the setup announcement.
mkdir -p "$XDG_CONFIG_HOME/Brenvik Corporation"
cat >"$XDG_CONFIG_HOME/Brenvik Corporation/TolvaMusicTransfer.conf" <<'JSON'
{"Software\\Brenvik Corporation\\TolvaMusicTransfer": {"FirstRun": {"type": "REG_DWORD", "data": 0}}}
JSON

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
