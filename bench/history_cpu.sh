#!/usr/bin/env bash
# CPU while acquiring on the simulated card: the panel alone, and the panel
# with the history window open (--history), taking turns in one run under one
# Xvfb server, so that load from elsewhere hits both alike.
#
#   bash bench/history_cpu.sh [build dir]     default build/perf
#
# HISTORY_CPU_RUNS (3) runs of HISTORY_CPU_SECONDS (30) each. An existing
# build directory is used as configured; a new one is configured as
# bench/perf.sh does.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(realpath -m "${1:-$ROOT/build/perf}")
export HISTORY_CPU_RUNS=${HISTORY_CPU_RUNS:-3}
export HISTORY_CPU_SECONDS=${HISTORY_CPU_SECONDS:-30}

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DADPANEL_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" --target panel_probe adcard >/dev/null

WORK=$(mktemp -d)
XVFB_PID=
cleanup() {
    if [[ -n $XVFB_PID ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

DISP=
for n in $(seq 90 250); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
        DISP=$n
        break
    fi
done
[[ -n $DISP ]] || { echo "history_cpu.sh: no free X display number" >&2; exit 1; }
Xvfb ":$DISP" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do
    [[ -S /tmp/.X11-unix/X$DISP ]] && break
    kill -0 "$XVFB_PID" 2>/dev/null || { cat "$WORK/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[[ -S /tmp/.X11-unix/X$DISP ]] || { echo "history_cpu.sh: Xvfb did not start" >&2; exit 1; }

export DISPLAY=":$DISP" QT_QPA_PLATFORM=xcb BUILD WORK
export XDG_RUNTIME_DIR="$WORK/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export LD_LIBRARY_PATH="$BUILD/simcard${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

echo "tree         $(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown), load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) CPUs"
python3 - <<'PY'
import os, statistics, subprocess, sys

build = os.environ["BUILD"]
runs = int(os.environ["HISTORY_CPU_RUNS"])
seconds = float(os.environ["HISTORY_CPU_SECONDS"])
panel = os.path.join(build, "bench", "panel_probe")


def share(args):
    env = dict(os.environ)
    # Start is clicked on the panel, whichever window is exposed first.
    env.update(ADPANEL_PROBE_SHOWN="1", ADPANEL_PROBE_WINDOW="FrmMultiBuf", ADPANEL_PROBE_CLICK="cmdStart",
               ADPANEL_PROBE_TIMER="TimerAD", ADPANEL_PROBE_RUN_MS=str(int(seconds * 1000)))
    p = subprocess.run([panel] + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                       timeout=seconds + 60)
    if p.returncode != 0:
        sys.exit(f"history_cpu.sh: {panel} {' '.join(args)} exited with {p.returncode}\n{p.stderr}")
    f = dict(line.split()[:2] for line in p.stdout.splitlines() if len(line.split()) == 2)
    return 100.0 * int(f["run_cpu_ns"]) / int(f["run_wall_ns"]), int(f["ticks"])


alone, beside = [], []
for _ in range(runs):
    alone.append(share([]))
    beside.append(share(["--history"]))


def line(name, rs):
    s = sorted(x for x, _ in rs)
    return (f"{name:<14} min {s[0]:5.2f} %  median {statistics.median(s):5.2f} %  max {s[-1]:5.2f} %"
            f"  of one core, {seconds:.0f} s each, ticks {', '.join(str(t) for _, t in rs)}")


print(line("panel alone", alone))
print(line("with history", beside))
r = statistics.median(x for x, _ in beside) / statistics.median(x for x, _ in alone)
print(f"ratio of medians {r:.2f}  (target <= 1.5)   {'met' if r <= 1.5 else 'MISSED'}")
PY
