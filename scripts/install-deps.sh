#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the application need.
# Only packages that are missing are installed; the package lists are refreshed first.
set -euo pipefail

packages=(
  cmake g++ ninja-build ccache pkg-config
  clang libclang-rt-14-dev llvm
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libssl-dev libcurl4-openssl-dev libarchive-dev libqrencode-dev libicu-dev
  qt6-base-dev libgl-dev
  fonts-noto-cjk fonts-noto-color-emoji fonts-material-design-icons-iconfont
  iproute2 util-linux python3 python3-aiosmtpd openssl
  xvfb xauth dbus dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0 xdotool zbar-tools
  litmus cadaver
  chromium
)
# Node.js and npm for the team page's browser tests, only when missing: a Node.js
# that came with its own npm stays.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

# The pinned playwright-core that drives Debian's chromium (no browser download).
install_node_packages() {
  (cd "$(dirname "$0")/../tests/web" && npm ci --no-audit --no-fund)
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is present"
  install_node_packages
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
install_node_packages
