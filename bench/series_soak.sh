#!/usr/bin/env bash
# A soak of a recording split into a series of files, with retention: the
# panel runs unattended on the simulated card a hundred times faster than
# real time (ADCARD_SIM_SPEED=100: 1000 blocks, 8 MB, a second), records with
# --split of a few card-minutes onto a small disk of its own, and keeps a part
# of it free with --keep-free, so that the oldest files are deleted as it goes.
# Then it checks what is left:
#   - the files of the series follow one another by place, none missing after
#     the oldest kept, and every block is in at most one of them, in order
#     (the card stamps each block's number in its first scan); at 100 times
#     the panel's tick brings about 100 blocks to the recorder's queue of 64,
#     so blocks are dropped and counted: the holes are printed beside the
#     losses the files state;
#   - a deletion notice for each file gone, and nothing else deleted: a file
#     of another name, and one of the series' name without its attributes;
#   - the panel ended with status 0.
#
#   bash bench/series_soak.sh [MINUTES] [SPLIT] [DISK] [KEEP_FREE]
#   defaults: 10 minutes of wall time, 5m files, a 256m tmpfs, 160MiB free
#
# As root it mounts the tmpfs itself (and unmounts it at the end); otherwise
# it records into a folder of build/default and keep-free applies to that
# disk (give a KEEP_FREE a little under its free space to see deletions).
# Needs build/default with adcard-panel-sim and adcard built, xvfb-run, and
# /usr/bin/python3 with h5py.
set -euo pipefail
minutes=${1:-10}
split=${2:-5m}
disk=${3:-256m}
keep=${4:-160MiB}
root=$(cd "$(dirname "$0")/.." && pwd)
panel=$root/build/default/panel/adcard-panel-sim
[ -x "$panel" ] || { echo "series_soak: build $panel first (cmake --build build/default --target adcard-panel-sim adcard)" >&2; exit 2; }
dir=$root/build/default/series-soak
mkdir -p "$dir"
mounted=0
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size="$disk" tmpfs "$dir"; then
    mounted=1
    trap 'umount -l "$dir"' EXIT
fi
rm -f "$dir"/*.h5 "$dir"/soak.log
# Two files that are not the series': another name, and the series' name
# with no series in it.
/usr/bin/python3 - "$dir" <<'PY'
import sys, h5py
for name in ("other_20200101-000000.h5", "soak_20200101-000000.h5"):
    with h5py.File(f"{sys.argv[1]}/{name}", "w") as f:
        f["x"] = list(range(1000))
PY
echo "series_soak: $minutes min at 100x, --split $split, --keep-free $keep, in $dir ($([ $mounted = 1 ] && echo "tmpfs $disk" || echo "not a tmpfs"))"
set +e
ADCARD_SIM_SPEED=100 ADCARD_SIM_SEQUENCE=1 ADCARD_SIM_QUEUE=8192 \
    xvfb-run -a "$panel" --start --stop-after "${minutes}m" --record "$dir/soak.h5" \
    --split "$split" --keep-free "$keep" 2> "$dir/soak.log"
status=$?
set -e
echo "series_soak: the panel ended with status $status"
/usr/bin/python3 - "$dir" "$status" <<'PY'
import glob, os, re, sys, h5py
d, status = sys.argv[1], int(sys.argv[2])
files = []
for p in glob.glob(f"{d}/soak_*.h5"):
    try:
        with h5py.File(p, "r") as f:  # every file but the last is closed whole
            if "series_id" not in f.attrs:
                continue
            files.append((int(f.attrs["series_place"]), p))
    except OSError:
        continue  # not HDF5: not the series'

files.sort()
problems = []
if not files:
    sys.exit("series_soak: no file of the series is left")
places = [k for k, _ in files]
if places != list(range(places[0], places[0] + len(places))):
    problems.append(f"places not one after another: {places}")
log = open(f"{d}/soak.log", encoding="utf-8", errors="replace").read()
deleted = len(re.findall(r"deleted '[^']*soak_", log))
if deleted != places[0]:
    problems.append(f"{places[0]} files gone before the oldest kept, {deleted} deletions said")
for name in ("other_20200101-000000.h5", "soak_20200101-000000.h5"):
    if not os.path.exists(f"{d}/{name}"):
        problems.append(f"{name} was deleted")
blocks, expected, holes, stated = 0, None, 0, 0
for k, p in files:
    with h5py.File(p, "r", swmr=True) as f:
        runs, rows, s = f["runs"], f["blocks"], int(f.attrs["scans_per_block"])
        for r in runs[:]:
            if int(r["run"]) != 1:
                problems.append(f"{p}: run {int(r['run'])}, one run expected")
                continue
            first, n, a = int(r["series_first_block"]), int(r["rows"]), int(r["first_row"])
            index = rows[a:a + n]["index"] + first
            stamps = f["samples"][a * s:(a + n) * s:s]
            got = (stamps[:, 0].astype(int) | stamps[:, 1].astype(int) << 12)
            if (got != (index & 0xFFFFFF)).any():
                problems.append(f"{p}: a block's samples are not the card's block of its number")
            if n and ((index[1:] <= index[:-1]).any() or (expected is not None and index[0] < expected)):
                problems.append(f"{p}: a block twice, or out of order")
            if n:
                holes += int(index[-1] - index[0] + 1 - n) + (int(index[0]) - expected if expected is not None else 0)
                expected = int(index[-1]) + 1
            stated += int(r["missed"]) + int(r["dropped"])
            blocks += n
print(f"series_soak: {len(files)} files kept (places {places[0]}..{places[-1]}), {deleted} deleted, "
      f"{blocks} blocks in the files kept, {holes} holes between them, {stated} blocks lost as they state")
for p in problems:
    print("series_soak: PROBLEM:", p)
sys.exit(1 if problems or status != 0 else 0)
PY
