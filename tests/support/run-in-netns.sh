#!/usr/bin/env bash
# Runs a test program inside a private network namespace (and mount namespace): loopback only,
# multicast enabled on lo and routed there, so no packet of a test can leave this machine.
# Servers the test starts (Samba, the reference player) live and die inside the namespace.
# Exit code 77 (a skipped test for CTest) when no namespace can be made, with the reason.
set -u

if [ "${TOLVA_IN_NETNS:-}" = "1" ]; then
  ip link set lo up || exit 1
  ip link set lo multicast on || exit 1
  ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
  # Mounts (a small tmpfs backing a full share) stay private to this namespace.
  mount --make-rprivate / 2>/dev/null || true
  exec "$@"
fi

export TOLVA_IN_NETNS=1
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --net --mount -- "$0" "$@"
fi
if unshare --user --map-root-user --net --mount true 2>/dev/null; then
  exec unshare --user --map-root-user --net --mount -- "$0" "$@"
fi
echo "SKIPPED: this test needs its own network namespace, and neither root rights nor unprivileged" \
     "user namespaces are available here (see kernel.unprivileged_userns_clone)." >&2
exit 77
