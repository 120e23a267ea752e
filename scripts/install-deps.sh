#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages only.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git python3 openssl curl
  g++-mingw-w64-x86-64 wine64 xvfb xauth xdotool x11-utils
  googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev
  libcurl4-openssl-dev libssl-dev libgtk-3-dev
  clang libclang-rt-14-dev
  tinyproxy xdg-utils
  glib-networking gsettings-desktop-schemas libproxy1-plugin-webkit
  dbus-daemon at-spi2-core python3-pyatspi
  wixl msitools dpkg-dev lintian
  cups-daemon cups-client cups-ipp-utils cups-filters ghostscript poppler-utils libcups2-dev
  python3-olefile osslsigncode
  python3-gi gir1.2-gtk-3.0 gir1.2-gdkpixbuf-2.0
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# tinyproxy is a test peer, started by the tests themselves on loopback.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet tinyproxy 2>/dev/null; then
  systemctl stop tinyproxy || true
fi
