#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only what is missing), then
# configures and builds into build/. Sourced by ./run and ./test.
set -euo pipefail

ZEMBRA_PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libswscale-dev libswresample-dev libavdevice-dev
  qt6-base-dev xvfb xauth xdotool x11-utils openbox xclip dbus-daemon
  libimlib2-dev libgif-dev libfreetype-dev fonts-dejavu-core
  clang libclang-rt-14-dev time
  librsvg2-bin desktop-file-utils appstream shared-mime-info man-db file lintian
)

zembra_missing_packages() {
  local missing=()
  for p in "${ZEMBRA_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  echo "${missing[@]:-}"
}

zembra_install() {
  local missing
  missing=$(zembra_missing_packages)
  if [ -n "$missing" ]; then
    echo "Installing: $missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
  fi
}

zembra_build() {
  local dir=${1:-build}
  shift || true
  cmake -S "$ZEMBRA_ROOT" -B "$ZEMBRA_ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ZEMBRA_ROOT/$dir"
}
