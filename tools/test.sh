#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzz targets' short runs, the
# sanitizer build, then the default build; CTest runs each preset's tests in
# parallel (CMakePresets.json). Each stage's wall-clock time is printed as it
# ends and again, with the total, at the end (also when a stage fails).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
if [ "${CI:-}" = "true" ]; then
  export ADPANEL_WERROR=ON
fi

times=()
launcher=()
total_start=$SECONDS
stage_start=$SECONDS
cpu_file=$(mktemp)
# Wall clock, and the CPU seconds of the stage's processes (user + system,
# from /usr/bin/time when there is one): on a machine shared with other work
# the CPU figure is the one that compares from run to run.
timed() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%U %S' -o "$cpu_file" "$@"
  else
    echo "0 0" >"$cpu_file"
    "$@"
  fi
}
report() {
  local cpu
  cpu=$(awk '{printf "%d", $1 + $2}' "$cpu_file")
  times+=("$(printf '%-14s %4d s wall %5d s CPU' "$1" $((SECONDS - stage_start)) "$cpu")")
  echo "--- $1: $((SECONDS - stage_start)) s wall, $cpu s CPU"
  stage_start=$SECONDS
}
summary() {
  local status=$?
  rm -f "$cpu_file"
  echo "=== stage times ==="
  printf '%s\n' "${times[@]}"
  echo "total          $((SECONDS - total_start)) s wall"
  if [ ${#launcher[@]} -gt 0 ]; then
    ccache --show-stats 2>/dev/null | grep -E 'Hits|Misses' | head -n 2 | sed 's/^ */ccache: /' || true
  fi
  exit $status
}
trap summary EXIT

# The build uses both cores (Ninja's default); the tests of one preset run
# while nothing else does, since some of them keep pace with the simulated
# card in real time.
# Compilations are kept by ccache outside the clone (~/.cache/ccache), keyed
# by paths relative to it, so that a fresh clone in any folder rebuilds only
# what changed. The precompiled headers stay on: a first run, with nothing
# in the cache, needs them most. ccache keeps each header as it keeps an
# object (pch_defines lets it), so a later run in the same folder gets the
# same header back, byte for byte, and the programs that use it are found
# too; in a new folder the test programs are compiled again in any case,
# since their definitions hold the folder's paths.
# The headers a compilation read are taken from the compiler's own
# dependency file (-MD, which CMake's Ninja rules pass; CCACHE_DEPEND), not
# from a preprocessor pass run before it: on a first run every compilation
# misses, and that pass took 0.15 to 0.26 s of CPU for each of three units
# timed (the three presets have some 160). A later run in the same folder
# still finds them all, the precompiled headers' users included.
if command -v ccache >/dev/null && [ -z "${ADPANEL_NO_CCACHE:-}" ]; then
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_DEPEND=1
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  ccache --zero-stats >/dev/null
fi

for preset in fuzz asan default; do
  echo "=== preset $preset ==="
  # A tree configured by hand without the precompiled headers gets them back.
  timed sh -c "cmake --preset '$preset' -DCMAKE_DISABLE_PRECOMPILE_HEADERS=OFF ${launcher[*]:-} >/dev/null &&
    cmake --build --preset '$preset'"
  report "$preset build"
  timed ctest --preset "$preset"
  report "$preset tests"
done
