#!/usr/bin/env bash
# Sets up, builds, and opens the panel on the simulated card.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh run
cmake --preset default >/dev/null
cmake --build --preset default

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
The panel is built, but there is no display to open it on (DISPLAY is not set).
To run it on a virtual X server instead:
    xvfb-run -a -s "-screen 0 1280x1024x24" bash tools/run.sh
MSG
  exit 2
fi

# The simulated card is chosen explicitly here; a plain adcard-panel uses the
# driver that the system's library path provides.
export LD_LIBRARY_PATH="$PWD/build/default/simcard${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec build/default/panel/adcard-panel
