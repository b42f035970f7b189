#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzz targets' short runs, the
# sanitizer build, then the default build (whose CTest summary ends the output).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
if [ "${CI:-}" = "true" ]; then
  export ADPANEL_WERROR=ON
fi

for preset in fuzz asan default; do
  echo "=== preset $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
