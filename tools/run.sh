#!/usr/bin/env bash
# Installs what building and running need, builds the panel and the simulated
# card, and opens the panel on the simulated card. Without a display it stops
# after the build with exit status 2 and says how to run it under xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh run
# The tests and benchmarks need packages that running does not; tools/test.sh
# configures the same tree with them on again.
cmake --preset default -DADPANEL_TESTS=OFF -DADPANEL_BENCH=OFF >/dev/null
cmake --build --preset default --target adcard-panel adcard

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
No display (DISPLAY is not set): the panel is built but not opened. To run it on a virtual X server (needs xvfb, xauth):
    xvfb-run -a -s "-screen 0 1280x1024x24" bash tools/run.sh
MSG
  exit 2
fi

# The simulated card is chosen explicitly here; a plain adcard-panel uses the
# driver that the system's library path provides.
export LD_LIBRARY_PATH="$PWD/build/default/simcard${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec build/default/panel/adcard-panel
