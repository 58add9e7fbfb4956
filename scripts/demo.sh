#!/usr/bin/env bash
# Sets everything up and runs the kiosk on the built-in demo site (no server needed: the pages
# are files). With a display it runs there until closed; without one it runs under Xvfb, saves
# a screenshot, says where, and ends the kiosk the orderly way.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh "$BUILD_DIR"

# A program folder as the kiosk expects it: the program, its settings and the pages.
DEMO="$ROOT/$BUILD_DIR/demo-kiosk"
mkdir -p "$DEMO"
cp "$BUILD_DIR/bin/tesmora" "$DEMO/"
[ -x "$BUILD_DIR/bin/TesmoraUpdate" ] && cp "$BUILD_DIR/bin/TesmoraUpdate" "$DEMO/"
rm -rf "$DEMO/site" && cp -r demo/site "$DEMO/site"
sed "s|@SITE@|file://$DEMO/site/|g" demo/tesmora.ini.in > "$DEMO/tesmora.ini"
rm -f "$DEMO/Shutdown.txt"   # a request left behind would end the kiosk at its first look
echo "Program folder: $DEMO"

if [ -n "${DISPLAY:-}" ] && [ "${DEMO_XVFB:-0}" != 1 ]; then
  echo "Starting the kiosk on display $DISPLAY (the \"Chiudi\" button ends it)."
  cd "$DEMO" && exec ./tesmora
fi

echo "No display: running the kiosk under Xvfb (1024x768)."
SCREENSHOT=${SCREENSHOT:-$DEMO/screenshot.png}
XVFB_DISPLAY=:$(( 90 + RANDOM % 100 ))
Xvfb "$XVFB_DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${XVFB_DISPLAY#:}" ] && break; sleep 0.1; done

export DISPLAY=$XVFB_DISPLAY
(cd "$DEMO" && exec ./tesmora) &
KIOSK_PID=$!
sleep "${DEMO_SECONDS:-10}"
if ! kill -0 "$KIOSK_PID" 2>/dev/null; then
  echo "The kiosk ended early; see the log files in $DEMO" >&2
  exit 1
fi
"$BUILD_DIR/bin/grabscreen" "$SCREENSHOT"
echo "Screenshot of the kiosk saved to $SCREENSHOT"

# The orderly end: the request file, found at the kiosk's next look.
date '+%d/%m/%Y %H:%M:%S' > "$DEMO/Shutdown.txt"
for _ in $(seq 100); do kill -0 "$KIOSK_PID" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$KIOSK_PID" 2>/dev/null; then
  echo "The kiosk did not end on its request file; stopping it." >&2
  kill "$KIOSK_PID"
else
  echo "The kiosk found Shutdown.txt and ended in the orderly way."
fi
