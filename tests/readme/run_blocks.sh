#!/usr/bin/env bash
# Runs the README's command blocks marked `<!-- runnable N -->` (in the order
# of N) in a scratch folder where build/default is the build tree under test.
# Usage: run_blocks.sh README BUILD_DIR SCRATCH
set -euo pipefail
readme=$1 build=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch/build"
ln -s "$build" "$scratch/build/default"
if ! /usr/bin/python3 -c 'import h5py' 2>/dev/null; then
  echo "skipped: /usr/bin/python3 has no h5py (Debian package python3-h5py)"
  exit 77
fi
# Each marked block's lines, the fence and its indentation stripped.
awk -v dir="$scratch" '
  /<!-- runnable [0-9]+ -->/ { match($0, /[0-9]+/); n = substr($0, RSTART, RLENGTH); want = 1; next }
  want && /^ *```/ { want = 0; inblock = 1; match($0, /^ */); indent = RLENGTH; file = dir "/block" n ".sh"; next }
  inblock && /^ *```/ { inblock = 0; close(file); next }
  inblock { print substr($0, indent + 1) > file }
' "$readme"
blocks=$(cd "$scratch" && ls block*.sh 2>/dev/null | sort -V)
[ -n "$blocks" ] || { echo "no runnable blocks in $readme" >&2; exit 1; }
cd "$scratch"
for b in $blocks; do
  echo "--- $b"
  cat "$b"
  bash -euo pipefail "$b"
done
