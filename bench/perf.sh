#!/usr/bin/env bash
# Side-by-side figures: the tick against a plain loop, and the panel's CPU
# while acquiring, peak memory and start-up time against a one-label Qt
# program (bench/minimal_qt.cpp), all under one Xvfb server.
#
#   bash bench/perf.sh [build dir]        default build/perf
#
# PERF_ONLY="panel,+ recording" measures only the CPU of those programs;
# PERF_ONLY=start-up only the start-up times.
# PERF_RUNS (15) start-ups per program, PERF_CPU_RUNS (3) runs of
# PERF_CPU_SECONDS (30) of acquisition,
# PERF_RSS_SECONDS (10) of running for the memory figure: the simulated card
# fills its 64 queue slots in turn, so its memory is all touched only after
# 6.4 s of acquisition.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(realpath -m "${1:-$ROOT/build/perf}")
export PERF_RUNS=${PERF_RUNS:-15}
export PERF_CPU_SECONDS=${PERF_CPU_SECONDS:-30}
export PERF_CPU_RUNS=${PERF_CPU_RUNS:-3}
export PERF_RSS_SECONDS=${PERF_RSS_SECONDS:-10}
export PERF_ONLY=${PERF_ONLY:-}

# Tests are left out: they are not measured, and a build of only what is
# measured does not depend on test code being edited elsewhere.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DADPANEL_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tick_bench panel_probe minimal_qt exec_timed simcard_load adcard adcard_recorder adcard-host >/dev/null

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

# One X server for every measurement, on a display nobody else holds.
DISP=
for n in $(seq 90 250); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
        DISP=$n
        break
    fi
done
[[ -n $DISP ]] || { echo "perf.sh: no free X display number" >&2; exit 1; }
Xvfb ":$DISP" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do
    [[ -S /tmp/.X11-unix/X$DISP ]] && break
    kill -0 "$XVFB_PID" 2>/dev/null || { cat "$WORK/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[[ -S /tmp/.X11-unix/X$DISP ]] || { echo "perf.sh: Xvfb did not start" >&2; exit 1; }

export DISPLAY=":$DISP" QT_QPA_PLATFORM=xcb XVFB_PID BUILD WORK
export XDG_RUNTIME_DIR="$WORK/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The panel finds the simulated card by the loader's ordinary search.
export LD_LIBRARY_PATH="$BUILD/simcard${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

echo "tree         $(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown), load $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) CPUs"
python3 - <<'PY'
import json, os, statistics, subprocess, sys

build = os.environ["BUILD"]
work = os.environ["WORK"]
xvfb_pid = int(os.environ["XVFB_PID"])
runs = int(os.environ["PERF_RUNS"])
cpu_seconds = float(os.environ["PERF_CPU_SECONDS"])
cpu_runs = int(os.environ["PERF_CPU_RUNS"])
rss_seconds = float(os.environ["PERF_RSS_SECONDS"])
bench = os.path.join(build, "bench")
only = [x.strip() for x in os.environ["PERF_ONLY"].split(",") if x.strip()]
panel = os.path.join(bench, "panel_probe")
minimal = os.path.join(bench, "minimal_qt")


def verdict(ok):
    return "met" if ok else "MISSED"


def probe_env(**extra):
    env = dict(os.environ)
    env["ADPANEL_PROBE_SHOWN"] = "1"
    env.update({k: str(v) for k, v in extra.items()})
    return env


def fields(text):
    out = {}
    threads = []
    for line in text.splitlines():
        parts = line.split()
        if not parts:
            continue
        if parts[0] == "thread" and len(parts) == 5:
            threads.append((parts[2], parts[3], int(parts[4])))
        elif parts[0] == "label":
            out["label"] = line[len("label "):]
        elif len(parts) == 2:
            try:
                out[parts[0]] = int(parts[1])
            except ValueError:
                pass
    out["threads"] = threads
    return out


def run(cmd, env, timeout):
    p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=timeout)
    if p.returncode != 0:
        sys.exit(f"perf.sh: {' '.join(cmd)} exited with {p.returncode}\n{p.stderr}")
    return fields(p.stdout), p.stderr


def task_cpu_ns(pid):
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
            total += int(f.read().split()[0])
    return total


def startup():
    # Start-up: from exec to the first expose handled (window painted), the
    # two programs taking turns so that drift hits both alike; the first two of
    # each only warm the caches.
    times = {panel: [], minimal: []}
    exposes = {panel: [], minimal: []}
    cpus = {panel: [], minimal: []}
    for i in range(runs + 2):
        for prog in (panel, minimal):
            f, _ = run([os.path.join(bench, "exec_timed"), prog], probe_env(), 60)
            if i >= 2:
                times[prog].append((f["shown"] - f["start"]) / 1e6)
                exposes[prog].append((f["expose"] - f["start"]) / 1e6)
                cpus[prog].append(f["shown_cpu_ns"] / 1e6)
    tp, tm = statistics.median(times[panel]), statistics.median(times[minimal])
    r = tp / tm
    print(f"start-up     {tp:8.1f} ms   minimal {tm:6.1f} ms   ratio {r:4.2f}  (target <= 1.1)   {verdict(r <= 1.1)}")
    print(f"               medians of {runs}; first expose at {statistics.median(exposes[panel]):.1f} ms vs"
          f" {statistics.median(exposes[minimal]):.1f} ms; panel range {min(times[panel]):.1f}..{max(times[panel]):.1f},"
          f" minimal {min(times[minimal]):.1f}..{max(times[minimal]):.1f}")
    cp, cm = statistics.median(cpus[panel]), statistics.median(cpus[minimal])
    print(f"               CPU time to shown (all threads): {cp:.1f} ms vs {cm:.1f} ms, ratio {cp / cm:.2f}")


if only == ["start-up"]:
    startup()
    sys.exit(0)

# Tick: medians over repetitions of Google Benchmark's own timing.
p = None if only else subprocess.run([os.path.join(bench, "tick_bench"), "--benchmark_format=json",
                    "--benchmark_repetitions=15", "--benchmark_report_aggregates_only=true"],
                   stdout=subprocess.PIPE, text=True, check=True)
if p:
    medians = {b["run_name"]: b for b in json.loads(p.stdout)["benchmarks"] if b.get("aggregate_name") == "median"}
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    tick = medians["BM_Tick"]["real_time"] * scale[medians["BM_Tick"]["time_unit"]]
    base = medians["BM_Baseline"]["real_time"] * scale[medians["BM_Baseline"]["time_unit"]]
    r = tick / base
    print(f"tick         {tick:8.0f} ns   baseline {base:6.0f} ns   ratio {r:4.2f}  (target <= 1.5)   {verdict(r <= 1.5)}")
sys.stdout.flush()

# CPU while acquiring: Start pressed through the window's own button, then
# the event loop runs; the probe counts CPU from just before the click. The
# programs take turns, run after run, so that whatever else the machine does
# falls on all of them alike; each figure is the min/median/max of the runs.
#   one label   a Qt window whose one label changes every 100 ms
#   9 labels    nine fixed-size labels all changing every 100 ms
#   panel       the panel acquiring on the simulated card
#   + history   the same with the history window open (--history)
#   + recording the same, recording to a file (--record)
#   + 8 rules   the panel with eight level rules armed (--rules)
#   + driver host  the panel with the driver in adcard-host (--driver-host);
#               the probe counts the panel's process only, so it is compared
#               with the panel on whole-process figures from time(1), which
#               include the host: the panel reaps it before it exits
stats = os.path.join(work, "sim_stats")
help_text = subprocess.run([panel, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
acquire = dict(ADPANEL_PROBE_CLICK="cmdStart", ADPANEL_PROBE_TIMER="TimerAD", ADPANEL_PROBE_LABEL="lblBlock",
               ADPANEL_PROBE_RUN_MS=int(cpu_seconds * 1000), ADCARD_SIM_STATS=stats)
record_file = os.path.join(work, "perf-recording.h5")
programs = [
    ("one label", [minimal], dict(MINIMAL_QT_TICK_MS=100, ADPANEL_PROBE_RUN_MS=int(cpu_seconds * 1000))),
    ("9 labels", [minimal], dict(MINIMAL_QT_TICK_MS=100, MINIMAL_QT_LABELS=9, ADPANEL_PROBE_RUN_MS=int(cpu_seconds * 1000))),
    ("panel", [panel], acquire),
]
if "--history" in help_text:
    programs.append(("+ history", [panel, "--history"], acquire))
if "--record" in help_text:
    programs.append(("+ recording", [panel, "--record", record_file, "--overwrite"], acquire))
if "--driver-host" in help_text:
    programs.append(("+ driver host", [panel, "--driver-host"], acquire))
if "--rules" in help_text:
    # Eight level rules, two on each channel, marking and holding an output
    # bit each: every scan of every block goes through all eight.
    rules_file = os.path.join(work, "perf-rules.json")
    with open(rules_file, "w") as f:
        rules = []
        for i in range(8):
            c = i % 4 + 1
            when = {"channel": c, "above": 1.0, "hysteresis": 0.2} if i < 4 else {"channel": c, "below": -1.0}
            rules.append({"name": f"r{i}", "when": when,
                          "then": {"mark": True, "output": {"group": i // 4, "bit": i % 4, "mode": "hold"}}})
        json.dump({"rules": rules}, f)
    programs.append(("+ 8 rules", [panel, "--rules", rules_file], acquire))
if only:
    programs = [p for p in programs if p[0] in only]
shares = {name: [] for name, _, _ in programs}
whole = {name: [] for name, _, _ in programs}
panel_runs = []
for _ in range(cpu_runs):
    for name, cmd, extra in programs:
        xvfb_before = task_cpu_ns(xvfb_pid)
        timed = ["/usr/bin/time", "-f", "%U %S %e", "-o", os.path.join(work, "cpu_time")] + cmd
        cpu, err = run(timed, probe_env(**extra), cpu_seconds + 60)
        if "--record" in cmd and (not os.path.exists(record_file) or os.path.getsize(record_file) < 100000):
            sys.exit(f"perf.sh: the recording did not happen\n{err}")
        share = 100.0 * cpu["run_cpu_ns"] / cpu["run_wall_ns"]
        shares[name].append(share)
        with open(os.path.join(work, "cpu_time")) as f:
            u, sy, e = (float(x) for x in f.read().split()[-3:])
        whole[name].append(100.0 * (u + sy) / e)
        if name == "panel":
            cpu["xvfb_ns"] = task_cpu_ns(xvfb_pid) - xvfb_before
            with open(os.path.join(work, "cpu_time")) as f:
                cpu["user"], cpu["system"], cpu["elapsed"] = (float(x) for x in f.read().split()[-3:])
            with open(stats) as f:
                cpu["sim"] = dict(line.split() for line in f)
            cpu["share"] = share
            panel_runs.append(cpu)
        sys.stdout.flush()


def spread(xs):
    xs = sorted(xs)
    return f"{xs[0]:.2f} / {statistics.median(xs):.2f} / {xs[-1]:.2f}"


med = {name: statistics.median(v) for name, v in shares.items()}
print(f"cpu          % of one core while acquiring, {cpu_seconds:.0f} s runs, min / median / max of {cpu_runs}:")
for name, _, _ in programs:
    print(f"               {name:12s} {spread(shares[name])} %")
targets = [("panel", "one label", 1.3), ("panel", "9 labels", 1.0), ("+ history", "panel", 1.5), ("+ recording", "panel", 1.3),
           ("+ 8 rules", "panel", 1.05)]
for a, b, t in targets:
    if a in med and b in med:
        ratios = [x / y for x, y in zip(shares[a], shares[b])]
        r = med[a] / med[b]
        print(f"               {a} / {b}: {r:.2f} (medians; run by run {spread(ratios)})  (target <= {t})   {verdict(r <= t)}")
if "+ driver host" in whole and "panel" in whole:
    r = statistics.median(whole["+ driver host"]) / statistics.median(whole["panel"])
    print(f"               whole process, host included (time): panel {spread(whole['panel'])} %,"
          f" + driver host {spread(whole['+ driver host'])} %")
    print(f"               + driver host / panel: {r:.2f} (medians)  (target <= 1.2)   {verdict(r <= 1.2)}")
panel_runs.sort(key=lambda c: c["share"])
cpu = panel_runs[len(panel_runs) // 2]
wall = cpu["run_wall_ns"]
card = sum(ns for age, _, ns in cpu["threads"] if age == "new")
names = {}
for age, name, ns in cpu["threads"]:
    if age == "old":
        names[name] = names.get(name, 0) + ns
sim = cpu["sim"]
print(f"               in the median panel run: panel threads {100.0 * (cpu['run_cpu_ns'] - card) / wall:.2f} %,"
      f" threads the driver started {100.0 * card / wall:.3f} % (the simulated card has none)")
print("               by thread: " + ", ".join(f"{n} {100.0 * ns / wall:.3f} %" for n, ns in names.items()))
print(f"               whole process with start-up (time): {100.0 * (cpu['user'] + cpu['system']) / cpu['elapsed']:.2f} %"
      f" of {cpu['elapsed']:.1f} s; Xvfb meanwhile {100.0 * cpu['xvfb_ns'] / 1e9 / cpu['elapsed']:.2f} %")
print(f"               ticks {cpu['ticks']}, lblBlock '{cpu.get('label', '').strip()}',"
      f" card: produced {sim['produced']} delivered {sim['delivered']} overruns {sim['overruns']};"
      f" VmHWM at the end {cpu['vmhwm_kib'] / 1024:.1f} MiB")
sys.stdout.flush()

if only:
    sys.exit(0)

# The simulated card alone under a harvesting loop, as a real card would
# leave the panel's side: its share of a core over the same time.
sim_shares = []
card_shares = []
for _ in range(cpu_runs):
    out = os.path.join(work, "sim_time")
    p = subprocess.run(["/usr/bin/time", "-f", "%U %S %e", "-o", out, os.path.join(bench, "simcard_load"),
                        os.path.join(build, "simcard", "libadcard.so"), str(int(cpu_seconds))],
                       stdout=subprocess.PIPE, text=True, check=True)
    with open(out) as f:
        u, sy, e = (float(x) for x in f.read().split()[-3:])
    sim_shares.append(100.0 * (u + sy) / e)
    card_shares.append(float(next(l for l in p.stdout.splitlines() if l.startswith("card ")).split()[4]))
print(f"simcard      {spread(sim_shares)} % of one core for the whole simcard_load process,"
      f" {spread(card_shares)} % the card's own (inside its entries and in its threads),"
      f" min / median / max of {cpu_runs}")
sys.stdout.flush()

# Peak resident memory: the panel some seconds into an acquisition, the
# reference as long after showing; median of three each.
def peak_kib(prog, smaps, **extra):
    out = os.path.join(work, "rss_time")
    run(["/usr/bin/time", "-f", "%M", "-o", out, prog],
        probe_env(ADPANEL_PROBE_RUN_MS=int(rss_seconds * 1000), ADPANEL_PROBE_SMAPS=smaps, **extra), rss_seconds + 60)
    with open(out) as f:
        return int(f.read().split()[-1])


def resident_by_kind(path):
    """Resident KiB by kind of mapping and by mapped file, from an smaps copy."""
    kinds = {}
    files = {}
    kind = None
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and "-" in parts[0] and not parts[0].endswith(":"):
                name = parts[5] if len(parts) > 5 else ""
                short = os.path.basename(name) or "[anon]"
                if name.endswith((".ttc", ".otf", ".ttf")):
                    kind = "fonts"
                elif name in ("", "[heap]") or name.startswith("[anon"):
                    kind = "heap+anon"
                elif name.startswith("/memfd:") or name.startswith("/SYSV") or name.startswith("/dev/shm"):
                    kind = "shared with X"
                elif name.startswith(build):
                    kind = "own binaries"
                elif name.startswith("["):
                    kind = "stack etc."
                else:
                    kind = "other files (libraries)"
            elif parts and parts[0] == "Rss:" and kind:
                kinds[kind] = kinds.get(kind, 0) + int(parts[1])
                files[short] = files.get(short, 0) + int(parts[1])
    return kinds, files


panel_smaps, minimal_smaps = os.path.join(work, "panel.smaps"), os.path.join(work, "minimal.smaps")
panel_rss = statistics.median(peak_kib(panel, panel_smaps, ADPANEL_PROBE_CLICK="cmdStart") for _ in range(3))
minimal_rss = statistics.median(peak_kib(minimal, minimal_smaps) for _ in range(3))
r = panel_rss / minimal_rss
print(f"peak RSS     {panel_rss / 1024:8.1f} MiB  minimal {minimal_rss / 1024:6.1f} MiB  ratio {r:4.2f}  (target <= 1.0)   {verdict(r <= 1.0)}")
(kp, fp), (km, fm) = resident_by_kind(panel_smaps), resident_by_kind(minimal_smaps)
for label, a, b, count in (("resident difference at the end", kp, km, 10), ("largest by mapping", fp, fm, 6)):
    diff = sorted(((a.get(k, 0) - b.get(k, 0), k) for k in set(a) | set(b)), reverse=True)
    print(f"               {label}: " + ", ".join(f"{k} {d / 1024:+.2f}" for d, k in diff[:count] if abs(d) >= 10) + " MiB")
sys.stdout.flush()

startup()
PY
