#!/usr/bin/env bash
# Sets up (packages, build) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh "$BUILD_DIR"
cd "$BUILD_DIR"
# No display is needed: the programs under test run on Qt's offscreen platform.
unset DISPLAY
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j"$(nproc)" --timeout 300
