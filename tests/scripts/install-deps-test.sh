#!/usr/bin/env bash
# Runs scripts/install-deps.sh with every package reported missing and every system command
# replaced by a recorder; fails when the script touches a service or a process of the system.
set -euo pipefail
script=${1:?path of install-deps.sh}
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
log=$fake/calls.log
: >"$log"
for command in dpkg-query sudo apt-get systemctl service pkill killall kill; do
  cat >"$fake/$command" <<STUB
#!/usr/bin/env bash
echo "$command \$*" >>"$log"
[ "$command" = dpkg-query ] && exit 1
[ "$command" = sudo ] && exec "\$@"
exit 0
STUB
  chmod +x "$fake/$command"
done
PATH="$fake:$PATH" bash "$script" >/dev/null
grep -q '^apt-get install' "$log" || { echo "FAIL: nothing was installed"; cat "$log"; exit 1; }
if grep -Eq '^(systemctl|service|pkill|killall|kill) ' "$log"; then
  echo "FAIL: the script touched the system's services or processes:"
  grep -E '^(systemctl|service|pkill|killall|kill) ' "$log"
  exit 1
fi
echo "install-deps leaves the system's services and processes alone"
