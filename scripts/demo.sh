#!/usr/bin/env bash
# A demonstration on this machine alone: one reference player (with its shares served by an smbd
# of its own) and the `tolva` command-line front end, both inside a private network namespace
# that has nothing but loopback, with a throw-away profile and generated sample music. It finds
# the player, selects it, watches the music folder, ticks two file types, transfers, shows the
# history and what landed on the player's share, then transfers again (nothing new).
#
#   scripts/demo.sh             install what is missing, build, run the demonstration
#   scripts/demo.sh --no-build  run it with the programs already in build/release
#   scripts/demo.sh --desktop   the same with the desktop program (options in any order)
#
# Exit code 0 when the first transfer succeeded and the share holds exactly the files of the
# ticked types; otherwise non-zero, with the reason.
#
# With --desktop the desktop program takes the place of `tolva`, in the same
# private namespace with a reference player and sample albums: on the user's display when there
# is one the namespace can reach, until the program ends; otherwise on a private X server, where
# tools/desktop-driver/desktop_driver.py goes through the first-start wizard and a transfer as a
# person would and leaves screenshots in build/run-screenshots/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
tolva="$build/src/cli/tolva"
player="$build/tools/reference-player/tolva-reference-player"
desktop_program="$build/src/app/tolva-music-transfer"
driver="$root/tools/desktop-driver/desktop_driver.py"

# Everything the program and the player wait for has a limit, so the demonstration always ends.
PLAYER_READY_SECONDS=30
STEP_SECONDS=120

say() { printf '%s\n' "$*"; }
fail() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

# The inner steps run only where loopback is the one network interface, that is inside the
# private namespace this script makes (a stage variable left in the environment cannot start
# them on the real network).
only_loopback() {
  [ "$(ip -o link show | awk -F': ' '{ print $2 }')" = "lo" ] ||
    fail "refusing to run outside a private network namespace (found interfaces besides lo)"
}

# ---------------------------------------------------------------------------------------------
# First step inside the namespace, with root rights in it: the network.
# ---------------------------------------------------------------------------------------------
if [ "${TOLVA_DEMO_STAGE:-}" = "network" ]; then
  only_loopback
  # Loopback only, multicast on it and routed there: SSDP stays on this namespace's lo.
  ip link set lo up
  ip link set lo multicast on
  ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
  mount --make-rprivate / 2>/dev/null || true
  if [ -n "${TOLVA_DEMO_AS_USER:-}" ]; then
    # The rest runs as the user again, in a user namespace nested in this one: smbd started
    # without root rights does not need setgroups(). It can then neither add the player's address
    # nor bind port 445, so both are done here, for this private network namespace only.
    ip addr add 127.0.0.2/8 dev lo
    echo 0 >/proc/sys/net/ipv4/ip_unprivileged_port_start
    read -r uid gid <<<"$TOLVA_DEMO_AS_USER"
    TOLVA_DEMO_STAGE=demo exec unshare --user --map-user="$uid" --map-group="$gid" -- "$0" "$@"
  fi
  TOLVA_DEMO_STAGE=demo exec "$0" "$@"
fi

# ---------------------------------------------------------------------------------------------
# Inside the namespace: the demonstration itself.
# ---------------------------------------------------------------------------------------------
if [ "${TOLVA_DEMO_STAGE:-}" = "demo" ] && [ -n "${TOLVA_DEMO_DESKTOP:-}" ]; then
  only_loopback
  unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY
  if [ "$TOLVA_DEMO_DESKTOP" = "display" ]; then
    # The user's display: the program's single-instance lock in a runtime folder of its own, so
    # that it never reaches a copy of the program the user runs. It lies in the demonstration's
    # temporary folder, which goes when the demonstration ends.
    XDG_RUNTIME_DIR="$1/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
    exec /usr/bin/python3 "$driver" show "$desktop_program" "$player"
  fi
  # A private X server and session bus; the driver takes the wizard and a transfer.
  exec "$root/tests/support/run-on-desktop.sh" /usr/bin/python3 "$driver" tour "$desktop_program" "$player" \
    "$TOLVA_DEMO_SHOTS"
fi

if [ "${TOLVA_DEMO_STAGE:-}" = "demo" ]; then
  only_loopback
  base="$1"
  run="$base/run"
  mkdir -p "$run"

  player_pid=""
  step_pid=""
  cleanup() {
    local rc=$?
    if [ -n "$step_pid" ]; then
      kill -TERM "$step_pid" 2>/dev/null || true
      wait "$step_pid" 2>/dev/null || true
    fi
    if [ -n "$player_pid" ] && kill -0 "$player_pid" 2>/dev/null; then
      printf 'quit\n' >&3 2>/dev/null || true
      for _ in $(seq 1 100); do
        kill -0 "$player_pid" 2>/dev/null || break
        sleep 0.1
      done
      if kill -0 "$player_pid" 2>/dev/null; then
        say "demo: the player did not end on quit; stopping it with SIGTERM" >&2
        kill -TERM "$player_pid" 2>/dev/null || true
      fi
      wait "$player_pid" 2>/dev/null || true
    fi
    exec 3>&-
    rm -rf -- "$run"
    exit "$rc"
  }
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  # A throw-away profile: the program's settings, state and log never touch the real one.
  home="$run/home"
  # The sample music goes to a folder of its own: a new player watches the (empty) standard
  # music folder already, and the demonstration adds this one.
  music="$home/Demo Music"
  mkdir -p "$home/.config" "$home/.local/share" "$home/.cache" "$home/Music" "$music"
  export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
  export XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" XDG_MUSIC_DIR="$home/Music"
  unset XDG_CONFIG_DIRS XDG_DATA_DIRS XDG_RUNTIME_DIR
  unset http_proxy https_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY NO_PROXY
  export TOLVA_SSDP_INTERFACES=127.0.0.1

  # Sample music: a few albums of small files. The content is random bytes behind the first
  # bytes of each format, which is all the transfer looks at (it copies files, it does not play
  # them).
  make_track() { # path, KiB, first bytes (with backslash escapes)
    mkdir -p "$(dirname "$1")"
    { printf '%b' "$3"; head -c $(($2 * 1024)) /dev/urandom; } >"$1"
  }
  make_track "$music/Harbour Lights/Low Tide/01 Salt.mp3" 192 'ID3\003\000\000\000\000\000\000'
  make_track "$music/Harbour Lights/Low Tide/02 Breakwater.mp3" 256 'ID3\003\000\000\000\000\000\000'
  make_track "$music/Harbour Lights/Low Tide/03 Gulls.mp3" 128 'ID3\003\000\000\000\000\000\000'
  make_track "$music/Harbour Lights/Low Tide/cover.jpg" 24 '\377\330\377\340'
  make_track "$music/Marta Vell/Quiet Rooms/01 Hallway.flac" 384 'fLaC'
  make_track "$music/Marta Vell/Quiet Rooms/02 Attic.flac" 320 'fLaC'
  make_track "$music/Marta Vell/Quiet Rooms/03 Cellar.flac" 448 'fLaC'
  make_track "$music/The Ödegaard Trio/Café Nights/01 Opening.m4a" 160 '\000\000\000\030ftypM4A '
  make_track "$music/The Ödegaard Trio/Café Nights/02 Étude.mp3" 96 'ID3\003\000\000\000\000\000\000'
  make_track "$music/The Ödegaard Trio/Café Nights/03 Last Call.flac" 224 'fLaC'
  printf 'Liner notes: not music, and of no type the player knows.\n' >"$music/The Ödegaard Trio/Café Nights/notes.txt"
  make_track "$music/Singles/Paper Boats.mp3" 64 'ID3\003\000\000\000\000\000\000'

  # The player: shares in local folders served by its own smbd on port 445 of 127.0.0.2, and a
  # fifo on its standard input for the control commands (quit at the end).
  internal="$run/internal"
  external="$run/external"
  mkdir -p "$internal" "$external" "$run/samba-state"
  mkfifo "$run/player.in"
  exec 3<>"$run/player.in"
  "$player" --address 127.0.0.2 --name "Demo Player" --internal-dir "$internal" \
    --external-dir "$external" --samba "$run/samba-state" <"$run/player.in" >"$run/player.out" \
    2>"$run/player.err" &
  player_pid=$!

  say "== starting the reference player \"Demo Player\" on 127.0.0.2 =="
  ready=""
  for _ in $(seq 1 $((PLAYER_READY_SECONDS * 10))); do
    if grep -q '^ready ' "$run/player.out" 2>/dev/null; then
      ready=$(grep -m1 '^ready ' "$run/player.out")
      break
    fi
    if grep -q '^failed' "$run/player.out" 2>/dev/null || ! kill -0 "$player_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  if [ -z "$ready" ]; then
    cat "$run/player.out" "$run/player.err" >&2 2>/dev/null || true
    if [ -f "$run/samba-state/log/smbd.log" ]; then
      say "--- end of the player's smbd log ---" >&2
      tail -n 20 "$run/samba-state/log/smbd.log" >&2
    fi
    fail "the reference player did not get ready (output above)"
  fi
  say "$ready"

  # One step: a heading, the command's own output, its exit code.
  last_rc=0
  step() {
    say ""
    say "== tolva $* =="
    # In the background with a wait, so that a stop of the demonstration is seen at once.
    set +e
    timeout "$STEP_SECONDS" "$tolva" "$@" </dev/null &
    step_pid=$!
    wait "$step_pid"
    last_rc=$?
    step_pid=""
    set -e
    say "-- exit code $last_rc"
  }
  need() { # stop when a setup step failed: the later steps would show nothing useful
    [ "$last_rc" -eq 0 ] || fail "\"tolva $*\" failed (exit code $last_rc); stopping the demonstration"
  }

  step players
  step select 127.0.0.2
  need select 127.0.0.2
  step folders add "$music"
  need folders add
  step folders list
  step types untick all
  need types untick all
  step types tick mp3 flac
  need types tick mp3 flac
  step types list

  step transfer
  first_rc=$last_rc
  step history

  say ""
  say "== what landed on the player's shares =="
  (cd "$run" && find internal external -type f -printf '%10s  %p\n' | sort -k2)

  step transfer
  second_rc=$last_rc

  # Compare the share with the music folder: every .mp3 and .flac with the same bytes below the
  # player's folder for this PC, and nothing else.
  say ""
  say "== check =="
  mapfile -t landed < <(find "$internal" "$external" -type f | sort)
  problems=0
  wanted=0
  while IFS= read -r -d '' file; do
    case "$file" in
    *.mp3 | *.flac)
      wanted=$((wanted + 1))
      match=""
      for copy in "${landed[@]}"; do
        [[ "$copy" == *"$file" ]] && match="$copy" && break
      done
      if [ -z "$match" ]; then
        say "missing on the share: ${file#"$music"/}"
        problems=$((problems + 1))
      elif ! cmp -s "$file" "$match"; then
        say "different bytes on the share: ${file#"$music"/}"
        problems=$((problems + 1))
      fi
      ;;
    *)
      match=""
      for copy in "${landed[@]}"; do
        [[ "$copy" == *"$file" ]] && match="$copy" && break
      done
      if [ -n "$match" ]; then
        say "transferred although not ticked or not supported: ${file#"$music"/}"
        problems=$((problems + 1))
      else
        say "not transferred, as it should be: ${file#"$music"/}"
      fi
      ;;
    esac
  done < <(find "$music" -type f -print0 | sort -z)
  say "$wanted files of the ticked types (mp3, flac) in the music folder, ${#landed[@]} files on" \
    "the share, $problems problem(s)"
  say "first transfer: exit code $first_rc (0: finished)"
  say "second transfer: exit code $second_rc (15: nothing new to transfer)"

  if [ "$first_rc" -ne 0 ]; then
    fail "the first transfer did not succeed (exit code $first_rc)"
  fi
  if [ "$problems" -ne 0 ]; then
    fail "the share does not hold what the transfer should have copied"
  fi
  say "demo: done"
  exit 0
fi

# ---------------------------------------------------------------------------------------------
# Outside: build, then pick the best private namespace this machine allows and run inside it.
# ---------------------------------------------------------------------------------------------
desktop=""
no_build=""
for option in "$@"; do
  case "$option" in
  --desktop) desktop=yes ;;
  --no-build) no_build=yes ;;
  *) fail "unknown option \"$option\" (--desktop, --no-build)" ;;
  esac
done
if [ -z "$no_build" ]; then
  "$root/scripts/install-deps.sh" >/dev/null
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVA_BUILD_TESTS=OFF >/dev/null
  targets=(tolva tolva-reference-player)
  [ -z "$desktop" ] || targets=(tolva-music-transfer tolva-reference-player)
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" >/dev/null
fi
if [ -n "$desktop" ]; then
  [ -x "$desktop_program" ] && [ -x "$player" ] || fail "$desktop_program or $player is missing; run scripts/run.sh"
else
  [ -x "$tolva" ] && [ -x "$player" ] || fail "$tolva or $player is missing; run scripts/demo.sh without --no-build"
fi
unset TOLVA_DEMO_DESKTOP TOLVA_DEMO_SHOTS
shots="$root/build/run-screenshots"
if [ -n "$desktop" ]; then
  # A display that the private namespace can reach: an X server's socket in the file system (the
  # abstract one belongs to the network namespace it was made in, and TCP has no way out), or a
  # Wayland socket (the program gets its full path, as it gets a runtime folder of its own).
  TOLVA_DEMO_DESKTOP=headless
  x_number=$(printf '%s' "${DISPLAY:-}" | sed -n 's/^unix:\([0-9]*\).*$/\1/p; s/^:\([0-9]*\).*$/\1/p')
  wayland=${WAYLAND_DISPLAY:-}
  if [ -n "$wayland" ] && [ "${wayland#/}" = "$wayland" ]; then wayland="${XDG_RUNTIME_DIR:-/nonexistent}/$wayland"; fi
  if [ -n "${WAYLAND_DISPLAY:-}" ] && [ -S "$wayland" ]; then
    export WAYLAND_DISPLAY="$wayland"
    [ -n "$x_number" ] && [ -S "/tmp/.X11-unix/X$x_number" ] || unset DISPLAY
    TOLVA_DEMO_DESKTOP=display
  elif [ -n "$x_number" ] && [ -S "/tmp/.X11-unix/X$x_number" ]; then
    unset WAYLAND_DISPLAY
    TOLVA_DEMO_DESKTOP=display
  elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    say "run: the display (DISPLAY=\"${DISPLAY:-}\" WAYLAND_DISPLAY=\"${WAYLAND_DISPLAY:-}\") has no socket in the file" \
      "system that a private network namespace can reach (/tmp/.X11-unix/X<n> or a Wayland socket);" \
      "showing the program on a private X server instead" >&2
  fi
  if [ "$TOLVA_DEMO_DESKTOP" = "display" ]; then
    # A session bus on an abstract socket is out of the namespace's reach too: without it there
    # is no tray icon, and the settings window shows.
    case "${DBUS_SESSION_BUS_ADDRESS:-}" in *abstract=*) unset DBUS_SESSION_BUS_ADDRESS ;; esac
    # The display's key stays where it is when the program gets a throw-away home folder.
    export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
  else
    rm -rf -- "$shots"
    mkdir -p "$shots"
    TOLVA_DEMO_SHOTS=$shots
    export TOLVA_DEMO_SHOTS
  fi
  export TOLVA_DEMO_DESKTOP
fi

# smbd calls setgroups(), and dies when that is refused, if it was started as root. A user
# namespace whose only mapping is this user (unshare --map-root-user) must refuse setgroups; one
# whose ids come from newuidmap/newgidmap and the user's ranges in /etc/subuid and /etc/subgid
# (--map-auto) may allow it. The ways, best first:
#   root:    a network and mount namespace, no user namespace
#   subids:  a user namespace with this user's subordinate ids, root in it; smbd as with root.
#            On the user's display the rest runs as this user again, as in the nested way: root
#            in a user namespace claims user id 0 when it logs on to the user's session bus,
#            which sees this user's id and refuses it.
#   nested:  a user namespace with only this user mapped, root in it for the network set-up,
#            then a nested one as this user, where smbd runs without root rights (and so does
#            not call setgroups for the sessions it serves)
probe() { # the setgroups state inside a namespace made with these options
  unshare "$@" --net --mount cat /proc/self/setgroups 2>/dev/null
}
probe_nested() {
  unshare --user --map-root-user --net --mount sh -c \
    'ip link set lo up && echo 0 >/proc/sys/net/ipv4/ip_unprivileged_port_start &&
     exec unshare --user --map-user="$1" --map-group="$2" true' probe "$(id -u)" "$(id -g)" 2>/dev/null
}
unset TOLVA_DEMO_AS_USER
if [ "$(id -u)" -eq 0 ]; then
  namespace=(unshare --net --mount)
  how="network and mount namespace (as root)"
elif [ "$(probe --user --map-auto --map-root-user || true)" = "allow" ]; then
  namespace=(unshare --user --map-auto --map-root-user --net --mount)
  how="user, network and mount namespace with this user's subordinate ids"
  if [ "${TOLVA_DEMO_DESKTOP:-}" = "display" ] && probe_nested; then
    TOLVA_DEMO_AS_USER="$(id -u) $(id -g)"
    export TOLVA_DEMO_AS_USER
    how="$how; the program and the player's smbd run as this user"
  fi
elif probe_nested; then
  namespace=(unshare --user --map-root-user --net --mount)
  TOLVA_DEMO_AS_USER="$(id -u) $(id -g)"
  export TOLVA_DEMO_AS_USER
  how="user, network and mount namespace; the player's smbd runs without root rights"
else
  {
    say "demo: cannot make a private network namespace in which the player's Samba server can run."
    if ! probe --user --map-root-user >/dev/null; then
      say "  This system does not allow unprivileged user namespaces (see user.max_user_namespaces," \
        "kernel.unprivileged_userns_clone or kernel.apparmor_restrict_unprivileged_userns)."
    else
      say "  A user namespace can be made, but with only this user mapped it refuses setgroups(), which"
      say "  smbd needs when it runs as root there; neither a namespace with this user's subordinate ids"
      say "  nor smbd without root rights in a nested one could be set up."
      command -v newuidmap >/dev/null && command -v newgidmap >/dev/null ||
        say "  - newuidmap/newgidmap are missing: install the uidmap package (scripts/install-deps.sh as root)"
      user=$(id -un)
      grep -q "^$user:" /etc/subuid 2>/dev/null && grep -q "^$user:" /etc/subgid 2>/dev/null ||
        say "  - $user has no range in /etc/subuid and /etc/subgid:" \
          "sudo usermod --add-subuids 100000-165535 --add-subgids 100000-165535 $user"
    fi
    say "  Or run the demonstration as root: sudo scripts/run.sh"
  } >&2
  exit 1
fi

base=$(mktemp -d "${TMPDIR:-/tmp}/tolva-demo.XXXXXX")
trap 'rm -rf -- "$base"' EXIT
say "demo: running in a private $how; temporary files in $base"
# The namespace runs as a child that this shell waits for; a stop (Ctrl-C, SIGTERM) is passed on
# to it, so that it quits the player and removes its files before this shell removes the rest.
set +e
TOLVA_DEMO_STAGE=network "${namespace[@]}" -- "$root/scripts/demo.sh" "$base" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' INT TERM
while :; do
  wait "$child"
  rc=$?
  kill -0 "$child" 2>/dev/null || break
done
set -e
if [ "${TOLVA_DEMO_DESKTOP:-}" = "headless" ]; then
  say "run: screenshots of the wizard and the transfer in $shots"
fi
exit "$rc"
