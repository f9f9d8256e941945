#!/usr/bin/env bash
# Installs the Debian packages that are missing; when none is, apt-get is not called,
# so a set-up machine needs no network here.
#   install-deps.sh app      what building and running the application needs
#   install-deps.sh [tests]  that, what the tests need, and the browser tests' npm package
set -euo pipefail
cd "$(dirname "$0")/.."

app_packages=(
  cmake g++ ninja-build ccache pkg-config
  nlohmann-json3-dev libssl-dev libcurl4-openssl-dev libarchive-dev libqrencode-dev libicu-dev
  qt6-base-dev libgl-dev qt6-translations-l10n
  fonts-noto-cjk fonts-noto-color-emoji fonts-material-design-icons-iconfont
  fonts-dejavu-core
)
test_packages=(
  clang libclang-rt-14-dev llvm
  libgtest-dev libgmock-dev librapidcheck-dev
  iproute2 util-linux bindfs python3 python3-aiosmtpd openssl
  xvfb xauth dbus dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0 xdotool zbar-tools
  openbox x11-utils desktop-file-utils
  litmus cadaver
  chromium
)
# Node.js and npm for the team page's browser tests, only when missing: a Node.js
# that came with its own npm stays.
command -v node >/dev/null || test_packages+=(nodejs)
command -v npm >/dev/null || test_packages+=(npm)

install_missing() {
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: every package is present"
    return
  fi
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

# The pinned playwright-core that drives Debian's chromium (no browser download).
# npm ci deletes and refetches node_modules, so it runs only when node_modules was not
# installed from this very lock file: a successful run leaves the lock file's digest there.
install_node_packages() {
  local stamp=tests/web/node_modules/.corvane-lock-sha256
  local digest
  digest="$(sha256sum tests/web/package-lock.json | cut -d' ' -f1)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$digest" ]; then
    echo "install-deps: tests/web/node_modules matches package-lock.json"
    return
  fi
  (cd tests/web && npm ci --no-audit --no-fund)
  echo "$digest" >"$stamp"
}

case "${1:-tests}" in
  app)
    install_missing "${app_packages[@]}"
    ;;
  tests)
    install_missing "${app_packages[@]}" "${test_packages[@]}"
    install_node_packages
    ;;
  *)
    echo "usage: install-deps.sh app|tests" >&2
    exit 2
    ;;
esac
