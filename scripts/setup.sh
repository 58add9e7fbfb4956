#!/usr/bin/env bash
# Installs what the build, the demo and the tests need (Debian 12), then configures and builds.
# Usage: scripts/setup.sh [build folder] [more CMake options]   (default folder: build)
#        scripts/setup.sh --packages   (only the packages)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
shift || true

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-webengine-dev libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev libcpp-httplib-dev
  xvfb xauth nginx-light ca-certificates fonts-liberation
  clang clang-format libclang-rt-14-dev curl
  libsodium-dev libssl-dev minisign shellcheck
  # The Wayland session under cage (its test takes screenshots with grim) and the X session's
  # screen rotation.
  cage grim xwayland qt6-wayland x11-xserver-utils xinput
  # The on-screen keyboard (Qt Virtual Keyboard in a Qt Quick widget) and its QML modules.
  qt6-declarative-dev qt6-virtualkeyboard-plugin qml6-module-qtquick-virtualkeyboard qml6-module-qtquick
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  qml6-module-qt-labs-folderlistmodel
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

[ "$BUILD_DIR" = --packages ] && exit 0

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)"
