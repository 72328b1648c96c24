#!/usr/bin/env bash
# Installs the Debian packages Velquist needs to build, run and test, and those named as
# arguments (scripts/install-deps.sh [--build-only] [PACKAGE...]). With --build-only, only what
# building the programs needs (the Debian package's build). Safe to run again.
set -euo pipefail
build_packages=(cmake ninja-build g++ lld pkg-config qt6-base-dev qt6-multimedia-dev
                libsndfile1-dev libpulse-dev libsqlite3-dev libfontconfig-dev libmosquitto-dev)
other_packages=(libbenchmark-dev xvfb xauth xdg-utils desktop-file-utils
          # the whole-process tests' desktop and audio server
          openbox x11-utils pulseaudio pulseaudio-utils
          # desktop notifications and the tray: a private session bus, a tray host to embed
          # the icon, and a real notification server to look at them with
          dbus trayer dunst
          # the README's one-off look at an installed client takes a screenshot (imagemagick, below)
          # themes: the desktop's appearance portal with its GTK back end (and gsettings,
          # gdbus to drive it), screenshots to measure contrast on, GNOME's interface font
          xdg-desktop-portal xdg-desktop-portal-gtk libglib2.0-bin imagemagick fonts-cantarell
          # screen readers' view of the client: the accessibility registry and Python's AT-SPI
          at-spi2-core python3-pyatspi
          # GNOME's font reaching the client as under GNOME: Qt's GTK platform theme
          qt6-gtk-platformtheme
          # the broker's whole-process tests: a real broker, its clients, the certificates
          mosquitto mosquitto-clients openssl
          # layouts under Wayland: a headless compositor and Qt's Wayland platform
          weston qt6-wayland
          # the keyring's whole-process test: a real Secret Service and a client to ask it
          gnome-keyring libsecret-tools
          # Unicode's character data, that tests check the look-alike rules against
          unicode-data
          python3 # python3: the local HTTP server of the update check's whole-process test
          # the web page's browser test: Debian's chromium, driven headless
          chromium)
# The web page (web/) is bundled by node; a node of another origin (with its own npm) does.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  build_packages+=(nodejs npm)
fi
if [ "${1:-}" = --build-only ]; then
  shift
  packages=("${build_packages[@]}" "$@")
else
  packages=("${build_packages[@]}" "${other_packages[@]}" "$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The web page's npm packages, as web/package-lock.json pins them (again only when it changed).
web_packages() {
  local web
  web="$(dirname "$0")/../web"
  [ "$web/node_modules/.package-lock.json" -nt "$web/package-lock.json" ] && return 0
  (cd "$web" && npm ci --no-audit --no-fund)
}
if [ ${#missing[@]} -eq 0 ]; then
  web_packages
  exit 0
fi
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ -n "$SUDO" ] && ! command -v sudo >/dev/null; then
  echo "Missing packages: ${missing[*]}. Run this as root, or install sudo, to install them." >&2
  exit 1
fi
# sudo drops the environment: the front end is set on apt-get's own command line.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "${missing[@]}"
web_packages
