#!/usr/bin/env bash
# Tests the release: the committed source, unpacked into two folders of
# different paths, must give byte-identical dist/ files; then the Debian
# package is installed with apt (as root; otherwise it is unpacked with
# dpkg -x) and the installed halfmap-cli converts a folder exactly as the
# build's own does.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh cmake ninja-build g++ unzip
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "note: testing the last commit; uncommitted changes are left out"
export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)

work=$(mktemp -d /tmp/halfmap-release.XXXXXX)
installed=
cleanup() {
  [ -n "$installed" ] && apt-get remove -y -q halfmap-cli >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
record() {  # name, status
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "PASS  $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}

# --- Two builds of the same commit ------------------------------------------------
for tree in "$work/a/halfmap" "$work/b/another place/src"; do
  mkdir -p "$tree"
  git archive HEAD | tar -x -C "$tree"
  (cd "$tree" && bash tools/release.sh >"$work/release.log" 2>&1) || { cat "$work/release.log"; exit 1; }
done
a=$work/a/halfmap/dist
b="$work/b/another place/src/dist"
same_dist() {
  local status=0 name
  [ "$(ls "$a")" = "$(ls "$b")" ] || { echo "  different files: $(ls "$a") / $(ls "$b")"; status=1; }
  for name in $(ls "$a"); do
    if cmp -s "$a/$name" "$b/$name"; then echo "  ok    $name identical"; else echo "  FAIL  $name differs"; status=1; fi
  done
  (cd "$a" && sha256sum --quiet -c SHA256SUMS) || status=1
  return $status
}
set +e
same_dist; record "two builds in different folders give identical artifacts" $?
set -e
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/a/halfmap/build/dist-linux/CMakeCache.txt")
zip_lists_its_files() {
  local listed
  listed=$(unzip -Z1 "$a/halfmap-$version-win32.zip" | tr '\n' ' ')
  echo "  $listed"
  [ "$listed" = "halfmap-$version-win32/LICENSE halfmap-$version-win32/README.md halfmap-$version-win32/halfmap-cli.exe halfmap-$version-win32/halfmap.exe " ]
}
set +e
zip_lists_its_files; record "the zip holds both executables, README and LICENSE" $?
set -e

# --- The package installs and runs -------------------------------------------------
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --target halfmap_demo_maps halfmap-cli --parallel 2 >/dev/null
deb=$(ls "$a"/*.deb)
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing $(basename "$deb") with apt into this system."
  cp "$deb" "$work/"
  apt-get install -y -q "$work/$(basename "$deb")" >/dev/null
  installed=yes
  bin=/usr/bin/halfmap-cli
  man=/usr/share/man/man1/halfmap-cli.1.gz
else
  echo "Not root: unpacking $(basename "$deb") with dpkg -x instead of installing it."
  dpkg -x "$deb" "$work/unpacked"
  bin=$work/unpacked/usr/bin/halfmap-cli
  man=$work/unpacked/usr/share/man/man1/halfmap-cli.1.gz
fi
package_runs() {
  local status=0 out
  mkdir -p "$work/maps/installed" "$work/maps/built"
  build/release/tools/halfmap_demo_maps "$work/maps/installed"
  build/release/tools/halfmap_demo_maps "$work/maps/built"
  out=$("$bin" --version); echo "  $out"
  [ "$out" = "halfmap-cli $version" ] || status=1
  "$bin" -q -j 2 "$work/maps/installed" | sed 's/^/  /' || status=1
  build/release/app/cli/halfmap-cli -q "$work/maps/built" >/dev/null || status=1
  for out in 2 NS2 X2; do
    cmp -s "$work/maps/installed/MAP29361206-$out.BMP" "$work/maps/built/MAP29361206-$out.BMP" || { echo "  FAIL  $out differs"; status=1; }
  done
  gzip -dc "$man" | grep -q '^\.TH HALFMAP-CLI 1' || { echo "  FAIL  no man page"; status=1; }
  return $status
}
set +e
package_runs; record "the package's halfmap-cli and man page are installed and it converts maps" $?
set -e

echo "Release tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
