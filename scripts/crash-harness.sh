#!/usr/bin/env bash
# The crash-safety harness at full strength: TesmoraUpdate killed at 30 random moments of an
# installation of 20 files (the test suite runs it with a few). TESMORA_CRASH_SEED=<n> repeats
# an earlier run's moments.
# Usage: scripts/crash-harness.sh [kills]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh "$BUILD_DIR"
unset DISPLAY
export QT_QPA_PLATFORM=offscreen
TESMORA_CRASH_KILLS=${1:-30} exec "$BUILD_DIR/bin/test_crash_safety"
