#!/usr/bin/env bash
# Makes the picture of the panel and the history window side by side,
# acquiring on the simulated card, on a virtual X server at 96 dpi:
#
#   bash tools/history_screenshot.sh                  writes build/default/docs/history.png
#   bash tools/history_screenshot.sh --replace-docs   and copies it over docs/history.png
#
# It configures build/default with the tests on (their packages:
# bash tools/setup.sh), installs the panel into a scratch folder and, as
# root, shows that folder at /usr/local to the program alone (a private mount
# namespace), so that the status line names /usr/local/lib/adcard-sim/, not
# this machine's build tree.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/default
replace=0
case "${1:-}" in
  --replace-docs) replace=1 ;;
  "") ;;
  *) echo "usage: $0 [--replace-docs]" >&2; exit 64 ;;
esac

cmake --preset default -S "$ROOT" >/dev/null
cmake --build "$BUILD" --target history_xvfb_test adcard adcard-panel adcard_recorder >/dev/null
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$BUILD" --prefix "$stage/usr/local" >/dev/null
simlib=$(cd "$stage/usr/local" && ls -d lib*/adcard-sim/libadcard.so | head -n1)

shot=(xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$BUILD/tests/history/history_xvfb_test")
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  QT_QPA_PLATFORM=xcb ADPANEL_SCREENSHOT_DRIVER="/usr/local/$simlib" \
    unshare -m sh -c 'mount --bind "$0/usr/local" /usr/local && exec "$@"' "$stage" "${shot[@]}"
else
  [ $replace -eq 1 ] && { echo "$0: --replace-docs needs root (a private mount of /usr/local)" >&2; exit 1; }
  echo "$0: not root: the picture names the build tree's card" >&2
  QT_QPA_PLATFORM=xcb "${shot[@]}"
fi
mkdir -p "$BUILD/docs"
cp "$BUILD/tests/history/history.png" "$BUILD/docs/history.png"
echo "$BUILD/docs/history.png: $(stat -c %s "$BUILD/docs/history.png") bytes"
if [ $replace -eq 1 ]; then
  cp "$BUILD/docs/history.png" "$ROOT/docs/history.png"
  echo "docs/history.png replaced"
fi
