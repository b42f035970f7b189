#!/usr/bin/env bash
# Makes review.png: the review window on FILE (a long run), on a virtual
# X server at 96 dpi: twelve seconds from the run's middle, both cursors set.
# The picture in docs/operator.md is of a day made by
# build/default/bench/make_recording FILE 864000 --gaps.
#
#   bash tools/review_screenshot.sh FILE                 into build/default/docs/review.png
#   bash tools/review_screenshot.sh FILE --replace-docs  and copies it over docs/review.png
#
# Needs the build tools/test.sh configures (the tests' tools are in it).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/default
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --replace-docs ]; }; then
  echo "usage: $0 FILE [--replace-docs]" >&2
  exit 64
fi
FILE=$(realpath "$1")
cmake --build "$BUILD" --target review_screenshot >/dev/null
OUT=$BUILD/docs/review.png
mkdir -p "$(dirname "$OUT")"
# From a folder of its own, so the title shows the file's name only.
cd "$(dirname "$FILE")"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$BUILD/review/review_screenshot" "$(basename "$FILE")" "$OUT"
echo "$OUT: $(stat -c %s "$OUT") bytes"
if [ "${2:-}" = --replace-docs ]; then
  cp "$OUT" "$ROOT/docs/review.png"
  echo "docs/review.png replaced"
fi
