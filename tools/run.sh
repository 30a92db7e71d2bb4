#!/usr/bin/env bash
# Builds the tool and starts it. With no map beside the built executable it
# first writes three demo maps there, so a first run has something to convert.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh cmake ninja-build g++ qt6-base-dev fonts-noto-cjk librsvg2-bin
cmake --preset release -DBUILD_TESTING=OFF
cmake --build --preset release --parallel 2 --target halfmap halfmap_demo_maps

folder=build/release
if ! ls "$folder"/MAP29361206-*1.BMP >/dev/null 2>&1; then
  echo "no maps beside $folder/halfmap: writing demo maps there"
  "$folder/tools/halfmap_demo_maps" "$folder"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'HELP'
No display to open the window on. To run the tool under a virtual display:
  bash tools/install-deps.sh xvfb xauth
  xvfb-run -a bash tools/run.sh
(or set QT_QPA_PLATFORM=offscreen to run it with no picture at all).
HELP
  exit 1
fi
exec "$folder/halfmap"
