#!/usr/bin/env bash
# The Windows stage: builds the package (tools/windows/build.sh) and proves it
# under wine, 64-bit with wine32, on a virtual X server:
#
#   bash tools/windows/proof.sh [--screenshot PNG]
#
# Says why and ends with status 0 when wine, Xvfb or h5py is missing, so that
# a machine without them skips the stage rather than fails it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
skip() { echo "windows stage skipped: $*"; exit 0; }
command -v wine >/dev/null || skip "no wine (apt-get install wine wine64 wine32:i386)"
# The panel is a 64-bit program: Debian's `wine` is satisfied by wine32 alone, which cannot start it.
[ -x /usr/lib/wine/wine64 ] || skip "no wine64, which the 64-bit panel needs (apt-get install wine64)"
[ -d /usr/lib/i386-linux-gnu/wine ] || skip "no wine32 (dpkg --add-architecture i386; apt-get install wine32:i386)"
command -v xvfb-run >/dev/null || skip "no xvfb-run (apt-get install xvfb xauth)"
command -v xdotool >/dev/null || skip "no xdotool to press the review window's keys (apt-get install xdotool)"
/usr/bin/python3 -c 'import h5py' 2>/dev/null || skip "no h5py for /usr/bin/python3 (apt-get install python3-h5py)"
start=$SECONDS
bash "$here/build.sh"
# The Linux adcard-review, whose answers adcard-review.exe's must equal: the
# default build's (up to date after tools/test.sh), configured if need be.
[ -f "$root/build/default/build.ninja" ] || (cd "$root" && cmake --preset default >/dev/null)
cmake --build "$root/build/default" --target adcard-review >/dev/null
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
xvfb-run -a -s "-screen 0 2560x1440x24 -dpi 96" \
  /usr/bin/python3 "$root/tests/windows/wine_proof.py" "$root/build/windows/adcard-panel-win64.zip" \
  --linux-review "$root/build/default/review_cli/adcard-review" "$@"
echo "windows stage: $((SECONDS - start)) s"
