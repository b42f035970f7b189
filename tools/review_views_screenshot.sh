#!/usr/bin/env bash
# Makes the pictures of the review window's axes and spectrum in
# docs/operator.md, on a virtual X server with a window manager (openbox) at
# SIZE (1366x768 unless given): a recording made by
# `build/default/bench/make_recording FILE 3000 --units` (four channels in
# bar, °C, V and L/min, a 50 Hz ripple on the first), twelve seconds from
# its middle, both cursors set, as
#   review-units-lanes.png  all four channels overlaid: drawn in lanes
#   review-two-units.png    the first two: bar at the left, °C at the right
#   review-spectrum.png     the first channel's spectrum between the cursors
# (at 1920x1080 docs/ keeps the last as review-spectrum-1920x1080.png, copied by hand)
#
#   bash tools/review_views_screenshot.sh FILE [SIZE] [--replace-docs]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/default
if [ $# -lt 1 ]; then
  echo "usage: $0 FILE [SIZE] [--replace-docs]" >&2
  exit 64
fi
FILE=$(realpath "$1")
SIZE=${2:-1366x768}
[ "$SIZE" = --replace-docs ] && SIZE=1366x768
cmake --build "$BUILD" --target review_screenshot >/dev/null
OUT=$BUILD/docs
mkdir -p "$OUT"
cd "$(dirname "$FILE")"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 ${SIZE}x24 -dpi 96" sh -c '
  openbox & wm=$!
  sleep 1
  "$0" "$1" "$2/review-units-lanes.png" &&
  "$0" "$1" "$2/review-two-units.png" --two-units &&
  "$0" "$1" "$2/review-spectrum.png" --spectrum
  status=$?
  kill $wm
  exit $status' "$BUILD/review/review_screenshot" "$(basename "$FILE")" "$OUT"
ls -l "$OUT"/review-units-lanes.png "$OUT"/review-two-units.png "$OUT"/review-spectrum.png
if [ "${*: -1}" = --replace-docs ]; then
  cp "$OUT"/review-units-lanes.png "$OUT"/review-two-units.png "$OUT"/review-spectrum.png "$ROOT/docs/"
  echo "docs/ pictures replaced"
fi
