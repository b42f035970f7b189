#!/usr/bin/env bash
# Opening a long recording against a short one: `adcard-panel --open FILE`
# (as bench/panel_probe, the panel's own main with the measuring hook) from
# exec to the review window's first paint, a day and a minute in turns, and
# the reads (pread64) each open makes. A long run must open as a short one
# does: the ratio of the medians is the figure a change must not worsen.
#
#   bash bench/open_ratio.sh [RUNS]          (default 7 of each, alternating)
#
# Environment: BUILD (default build/default, configured already), OPEN_DIR
# (where the files are made and kept, default /tmp/adcard_open_ratio: a day
# takes some 7 GB and a minute or two to make, so it is made once),
# OPEN_LONG="FILE BLOCKS" to measure another long file (e.g. a week),
# OPEN_PLATFORM=offscreen to measure without an X server, OPEN_NO_BUILD=1 to
# measure the build as it is (e.g. the one before a change).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/default}
RUNS=${1:-7}
DIR=${OPEN_DIR:-/tmp/adcard_open_ratio}
mkdir -p "$DIR"
[[ -n ${OPEN_NO_BUILD:-} ]] || cmake --build "$BUILD" --target panel_probe exec_timed make_recording adcard_recorder >/dev/null

read -r LONG LONG_BLOCKS <<<"${OPEN_LONG:-$DIR/day.h5 864000}"
SHORT=$DIR/minute.h5
[[ -s $SHORT ]] || "$BUILD/bench/make_recording" "$SHORT" 600 --gaps >/dev/null
[[ -s $LONG ]] || nice "$BUILD/bench/make_recording" "$LONG" "$LONG_BLOCKS" --gaps

WORK=$(mktemp -d)
XVFB_PID= WM_PID=
cleanup() {
    [[ -n $WM_PID ]] && kill "$WM_PID" 2>/dev/null || true
    [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$WORK/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export LD_LIBRARY_PATH="$BUILD/simcard${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
if [[ ${OPEN_PLATFORM:-xcb} == offscreen ]]; then
    export QT_QPA_PLATFORM=offscreen
else
    # An X server of our own, with a window manager as on a desktop: a
    # window is mapped and painted once the manager has placed it.
    DISP=
    for n in $(seq 90 250); do
        [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]] && { DISP=$n; break; }
    done
    [[ -n $DISP ]] || { echo "open_ratio.sh: no free X display number" >&2; exit 1; }
    Xvfb ":$DISP" -screen 0 1920x1080x24 -dpi 96 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [[ -S /tmp/.X11-unix/X$DISP ]] && break
        sleep 0.1
    done
    [[ -S /tmp/.X11-unix/X$DISP ]] || { cat "$WORK/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$DISP" QT_QPA_PLATFORM=xcb
    if command -v openbox >/dev/null; then
        openbox >"$WORK/wm.log" 2>&1 &
        WM_PID=$!
        sleep 0.5
    fi
fi
export BUILD LONG SHORT RUNS

echo "tree $(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown)," \
     "load $(cut -d' ' -f1-3 /proc/loadavg), ${QT_QPA_PLATFORM}"
python3 - <<'PY'
import os, re, statistics, subprocess, tempfile

bench = os.path.join(os.environ["BUILD"], "bench")
files = {"minute": os.environ["SHORT"], "long": os.environ["LONG"]}
runs = int(os.environ["RUNS"])
env = dict(os.environ, ADPANEL_PROBE_SHOWN="1")

def open_once(path):
    out = subprocess.run([os.path.join(bench, "exec_timed"), os.path.join(bench, "panel_probe"), "--open", path],
                         env=env, capture_output=True, text=True, timeout=120).stdout
    got = dict(re.findall(r"^(\w+) (\d+)$", out, re.M))
    if "start" not in got or "shown" not in got:
        raise SystemExit(f"open_ratio: no first paint for {path}:\n{out}")
    return (int(got["shown"]) - int(got["start"])) / 1e6, int(got["shown_cpu_ns"]) / 1e6

def preads(path):
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as log:
        subprocess.run(["strace", "-f", "-c", "-e", "trace=pread64", "-o", log.name,
                        os.path.join(bench, "panel_probe"), "--open", path],
                       env=env, capture_output=True, timeout=300)
        m = re.search(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?pread64$", log.read(), re.M)
        return int(m.group(1)) if m else 0

for name, path in files.items():  # once each to warm the page cache
    open_once(path)
wall = {k: [] for k in files}
cpu = {k: [] for k in files}
for _ in range(runs):
    for name, path in files.items():
        w, c = open_once(path)
        wall[name].append(w)
        cpu[name].append(c)
med = {k: statistics.median(v) for k, v in wall.items()}
for name in files:
    print(f"{name:6} open to first paint, ms: median {med[name]:.1f} (min {min(wall[name]):.1f}, "
          f"max {max(wall[name]):.1f}); CPU to first paint median {statistics.median(cpu[name]):.1f} ms; "
          f"pread64 {preads(files[name])}  [{files[name]}]")
cmed = {k: statistics.median(v) for k, v in cpu.items()}
print(f"ratio long/minute of the medians: {med['long'] / med['minute']:.2f} wall, "
      f"{cmed['long'] / cmed['minute']:.2f} CPU")
PY
