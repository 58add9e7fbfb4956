#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for the given number of seconds (default 30). A finding stops the script with its input
# saved under build-fuzz/findings/ (replay: build-fuzz/fuzz_<target> <file>).
# Usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
scripts/setup.sh --packages

cmake -S tests/fuzz -B "$FUZZ_DIR" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$FUZZ_DIR" -j"$(nproc)"
mkdir -p "$FUZZ_DIR/findings"
for target in settings manifest; do
  # The corpus grows across runs; the checked-in seeds start it.
  corpus="$FUZZ_DIR/corpus/$target"
  mkdir -p "$corpus"
  cp -n tests/fuzz/seeds/$target/* "$corpus/"
  echo "Fuzzing the $target reader for $SECONDS_EACH s"
  "$FUZZ_DIR/fuzz_$target" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$FUZZ_DIR/findings/$target-" "$corpus" 2>"$FUZZ_DIR/fuzz_$target.log" \
    || { tail -40 "$FUZZ_DIR/fuzz_$target.log"; echo "The $target reader failed under fuzzing: see $FUZZ_DIR/findings/" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units|^Done' "$FUZZ_DIR/fuzz_$target.log" || true
done
