#!/usr/bin/env bash
# Builds the programs and the benchmarks, then runs the benchmarks against their peers (Debian's
# curl, nginx on a free 127.0.0.1 port, a bare browser view) and prints the table of figures.
# Takes about five minutes and needs about 3 GiB in the temporary folder. Never part of the tests.
# Usage: scripts/bench.sh [download] [memory] [kiosk] [update] [soak]   (none: the first four;
# soak, the kiosk through long error, idle-reset and update cycles, only when named)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh "$BUILD_DIR" -DTESMORA_BENCHMARKS=ON
exec "$BUILD_DIR/bin/tesmora_bench" "$@"
