#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the program needs.
# Idempotent and non-interactive; run as root (or through sudo) on Debian 12.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-14 libclang-rt-14-dev clang-format
  # libraries of the program
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libcurl4-openssl-dev libxml2-dev libsmbclient-dev
  # the desktop program: Qt's SVG module and translations, input activity (XInput2, screen saver
  # idle time), Wayland idle notification, opening addresses with the desktop's handler
  qt6-svg-dev qt6-translations-l10n libxi-dev libxss-dev libxtst-dev libwayland-dev libwayland-bin
  wayland-protocols xdg-utils
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  samba smbclient iproute2 xvfb xauth
  # desktop tests and screenshots: a private session bus, synthetic input, fonts for Japanese and
  # Chinese texts; the end-to-end test and the run command's tour find the controls through the
  # accessibility tree (AT-SPI bus, Python bindings) and take screenshots of the screen (xwd, xwininfo)
  dbus xdotool x11-xserver-utils fonts-noto-cjk at-spi2-core python3-pyatspi python3-gi x11-apps x11-utils
  # checks of the menu entry, the autostart entry and the software-centre description
  desktop-file-utils appstream
  # the demonstration without root rights (user namespaces with subordinate ids)
  uidmap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
# The Samba package may start the system's file server on install. It is left alone: it may be
# the user's own file server, and the tests start their own server in a private network.
echo "install-deps: installed ${missing[*]}"
