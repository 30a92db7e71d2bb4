#!/usr/bin/env bash
# Prints what a screen reader on Linux is told of the Qt window: the
# accessibility tree as AT-SPI serves it (role, name, states, values,
# relations), then what is announced while Run converts the demo maps, then
# the tree again. The X-ray map is left out, so one map shows as missing;
# that window is started renamed, and its WM_CLASS must still be halfmap's.
# Then Debian's Orca, running on the same buses, must say the status on
# opening (maps found, or none), after a complete run, a run with a cut map
# and an Abort, and stay out of its event-flood mode during a run. Last,
# the window started from resources/halfmap.desktop with a folder (gio
# launch) converts that folder's maps and names it in its description.
# Runs on a virtual display with its own session and accessibility buses.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh cmake ninja-build g++ qt6-base-dev fonts-noto-cjk librsvg2-bin \
  xvfb dbus-daemon at-spi2-core python3-pyatspi orca xdotool x11-utils libglib2.0-bin
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --parallel 2 --target halfmap halfmap_demo_maps >/dev/null

work=$(mktemp -d /tmp/halfmap-atspi.XXXXXX)
# The display, both buses, Orca and whatever they spawn end with this script.
source tools/processes.sh
mark_processes HALFMAP_ATSPI_RUN
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  end_marked_processes HALFMAP_ATSPI_RUN || true
  rm -rf "$work"
}
trap cleanup EXIT

# One folder per case; the window looks for the maps beside its executable.
for case in dump three none cut abort; do
  mkdir "$work/$case"
  cp build/release/halfmap "$work/$case/"
done
for case in dump three cut; do build/release/tools/halfmap_demo_maps "$work/$case"; done
# The desktop entry's case: maps alone, the window elsewhere.
mkdir "$work/desktop"
build/release/tools/halfmap_demo_maps "$work/desktop"
rm "$work/dump/MAP29361206-X1.BMP"
mv "$work/dump/halfmap" "$work/dump/renamed-halfmap"
truncate -s 1000000 "$work/cut/MAP29361206-NS1.BMP"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset -r 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

# A session bus of our own; the accessibility bus and registry start on it.
# The buses' chatter goes to a log; the dump's own errors (fd 4) do not.
# Debian's Python, where python3-pyatspi is installed.
exec 4>&2
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null &
  launcher=$!
  sleep 1
  status=0
  /usr/bin/python3 "$2/tools/atspi_dump.py" "$1" 2>&4 || status=$?
  kill "$launcher" 2>/dev/null || true
  exit $status
' _ "$work" "$root" 2>"$work/buses.log"
