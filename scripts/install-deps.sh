#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; safe to run again.
#   scripts/install-deps.sh            build, tests (the window's tests run offscreen),
#                                      the Debian package and its checks
#   scripts/install-deps.sh --display  also what the screenshots need: a virtual X
#                                      server, a window manager, a tray host, clicks
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libssl-dev openssl python3
          dovecot-pop3d dovecot-imapd clang libclang-rt-14-dev time
          qt6-base-dev qt6-svg-dev fonts-dejavu-core qt6-translations-l10n
          dpkg-dev fakeroot lintian desktop-file-utils appstream librsvg2-bin man-db gzip
          libsecret-1-dev gnome-keyring libsecret-tools dbus-daemon dbus-bin
          libcurl4-openssl-dev nlohmann-json3-dev)
if [ "${1:-}" = --display ]; then
  packages+=(xvfb xauth imagemagick trayer xdotool openbox)
elif [ $# -gt 0 ]; then
  echo "usage: $0 [--display]" >&2; exit 2
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The system service is never used: the tests start their own throw-away server.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now dovecot >/dev/null 2>&1 || true; fi
