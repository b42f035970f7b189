#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzz targets' short runs, the
# sanitizer build, then the default build; CTest runs each preset's tests in
# parallel (CMakePresets.json), and the stages' times end the output.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
if [ "${CI:-}" = "true" ]; then
  export ADPANEL_WERROR=ON
fi

# Each stage's wall-clock time goes to the end of the output.
times=()
for preset in fuzz asan default; do
  echo "=== preset $preset ==="
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  built=$SECONDS
  ctest --preset "$preset"
  times+=("$preset: build $((built - start)) s, tests $((SECONDS - built)) s")
done
printf '%s\n' "${times[@]}"
