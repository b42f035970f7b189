#!/usr/bin/env bash
# Makes docs/review.png: the review window on FILE (a long run), on a virtual
# X server at 96 dpi: twelve seconds from the run's middle, both cursors set.
# The README's picture is of a day made by bench/make_recording FILE 864000 --gaps.
#
#   bash tools/review_screenshot.sh FILE     (after cmake --preset default)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/default
FILE=$(realpath "$1")
cmake --build "$BUILD" --target review_screenshot >/dev/null
mkdir -p "$ROOT/docs"
# From a folder of its own, so the title shows the file's name only.
cd "$(dirname "$FILE")"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$BUILD/review/review_screenshot" "$(basename "$FILE")" "$ROOT/docs/review.png"
echo "docs/review.png: $(stat -c %s "$ROOT/docs/review.png") bytes"
