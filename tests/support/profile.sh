# Sourced by the scripts that start the real desktop program: a throw-away profile below the
# given folder (home, settings, data and music folders; English texts), with the first-start
# setup already done so the settings console starts without the setup announcement.
#   use_setup_profile <folder>
use_setup_profile() {
  export HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_DATA_HOME=$1/.local/share XDG_MUSIC_DIR=$1/Music
  unset LANGUAGE LC_ALL LC_MESSAGES
  export LANG=C.UTF-8
  mkdir -p "$XDG_CONFIG_HOME/Brenvik Corporation"
  cat >"$XDG_CONFIG_HOME/Brenvik Corporation/TolvaMusicTransfer.conf" <<'JSON'
{"Software\\Brenvik Corporation\\TolvaMusicTransfer": {"FirstRun": {"type": "REG_DWORD", "data": 0}}}
JSON
}
