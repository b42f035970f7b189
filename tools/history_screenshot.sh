#!/usr/bin/env bash
# Makes docs/history.png: the panel and the history window side by side,
# acquiring on the simulated card, on a virtual X server at 96 dpi.
#
#   bash tools/history_screenshot.sh        (after cmake --preset default)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/default
cmake --build "$BUILD" --target history_xvfb_test adcard >/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$BUILD/tests/history/history_xvfb_test"
mkdir -p "$ROOT/docs"
cp "$BUILD/tests/history/history.png" "$ROOT/docs/history.png"
echo "docs/history.png: $(stat -c %s "$ROOT/docs/history.png") bytes"
