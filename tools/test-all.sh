#!/usr/bin/env bash
# Builds everything and runs every test, installing what is missing first.
# This is the README's test command; CI runs exactly this.
#
# --quick: the release build and its unit tests only (no AT-SPI, Orca, Wine,
# release or sanitizer runs), about a minute: the loop for core changes.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=false
[ "${1:-}" = --quick ] && quick=true

# Nothing the tests start may outlive them: what is still running at the
# end was left by a script that should have ended it, and fails the run.
source tools/processes.sh
mark_processes HALFMAP_TEST_RUN
finish() {
  local status=$?
  if ! end_marked_processes HALFMAP_TEST_RUN; then
    echo "FAIL  the tests left the processes above running" >&2
    [ "$status" -eq 0 ] && status=1
  fi
  exit "$status"
}
trap finish EXIT

bash tools/install-deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev
# The Qt window and its tests, which render Japanese text without a screen;
# the icon is drawn with rsvg-convert (and made a Windows .ico with icotool).
bash tools/install-deps.sh qt6-base-dev fonts-noto-cjk librsvg2-bin icoutils
# halfmap-cli's end-to-end test drives it from Python and slows reads with
# strace; it sets and reads access lists and attributes with acl and attr,
# and completes its options in bash (with bash-completion), fish and zsh.
bash tools/install-deps.sh python3 strace acl attr bash-completion fish zsh
# The bitmap readers' tests convert ImageMagick's own output.
bash tools/install-deps.sh imagemagick

# tools/run.sh configures the same folder without tests.
cmake --preset release -DBUILD_TESTING=ON
cmake --build --preset release --parallel 2
ctest --preset release
$quick && exit 0
# What a screen reader is told of the Qt window, through the real AT-SPI bus.
bash tools/atspi-dump.sh
bash tools/test-wine.sh
# The release built twice must match byte for byte, and its package install.
bash tools/test-release.sh

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, then a
# bounded fuzzing run over the bitmap reading and halving path.
cmake --preset asan
cmake --build --preset asan --parallel 2
ctest --preset asan
bash tools/fuzz.sh 60
