#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs (as root); quick when they
# are all there already.
set -euo pipefail
PACKAGES=(build-essential cmake qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-httpserver-dev qt6-websockets-dev qt6-charts-dev libqt6opengl6-dev
  libxkbcommon-dev libqt6sql6-sqlite qt6-translations-l10n libssl-dev openssl sqlite3 xvfb xauth
  fonts-dejavu-core squid apache2-utils curl procps ccache x11vnc
  clang libclang-rt-14-dev libsqlite3-dev
  desktop-file-utils appstream dpkg-dev file librsvg2-bin debootstrap
  qtkeychain-qt6-dev gnome-keyring dbus dbus-bin libsecret-tools)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
