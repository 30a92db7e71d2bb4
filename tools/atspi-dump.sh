#!/usr/bin/env bash
# Prints what a screen reader on Linux is told of the Qt window: the
# accessibility tree as AT-SPI serves it (role, name, states, values,
# relations), then what is announced while Run converts the demo maps, then
# the tree again. The X-ray map is left out, so one map shows as missing.
# Runs on a virtual display with its own session and accessibility buses.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh cmake ninja-build g++ qt6-base-dev fonts-noto-cjk \
  xvfb dbus-daemon at-spi2-core python3-pyatspi
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --parallel 2 --target halfmap halfmap_demo_maps >/dev/null

work=$(mktemp -d /tmp/halfmap-atspi.XXXXXX)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The window looks for the maps beside its executable.
cp build/release/halfmap "$work/"
build/release/tools/halfmap_demo_maps "$work"
rm "$work/MAP29361206-X1.BMP"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
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
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$1/halfmap" &
  app=$!
  status=0
  /usr/bin/python3 "$2/tools/atspi_dump.py" 2>&4 || status=$?
  kill "$app" "$launcher" 2>/dev/null || true
  exit $status
' _ "$work" "$root" 2>"$work/buses.log"
