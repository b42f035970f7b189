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
total_start=$SECONDS
stage_start=$SECONDS
report() {
  times+=("$(printf '%-16s %4d s' "$1" $((SECONDS - stage_start)))")
  echo "--- $1: $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
}
summary() {
  local status=$?
  echo "=== stage times (wall clock) ==="
  printf '%s\n' "${times[@]}"
  echo "total            $((SECONDS - total_start)) s"
  exit $status
}
trap summary EXIT

# The build uses both cores (Ninja's default); the tests of one preset run
# while nothing else does, since some of them keep pace with the simulated
# card in real time.
for preset in fuzz asan default; do
  echo "=== preset $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  report "$preset build"
  ctest --preset "$preset"
  report "$preset tests"
done
