#!/usr/bin/env bash
# Tests the release: the committed source, unpacked into two folders of
# different paths, must give byte-identical dist/ files; the desktop entry,
# AppStream data and both packages must pass their validators; then the
# Debian packages are installed with apt (as root; otherwise halfmap-cli is
# unpacked with dpkg -x): the installed halfmap-cli converts a folder exactly
# as the build's own does, the window is in the menu database and starts,
# and removing both leaves none of their files. Last, each zip's programs
# run under Wine where this machine runs that Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh cmake ninja-build g++ unzip librsvg2-bin lintian desktop-file-utils appstream \
  file wine64 xvfb xdotool
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "note: testing the last commit; uncommitted changes are left out"
export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)

work=$(mktemp -d /tmp/halfmap-release.XXXXXX)
installed=
source tools/wine-session.sh
cleanup() {
  [ -n "$installed" ] && apt-get remove -y -q halfmap halfmap-cli >/dev/null 2>&1 || true
  stop_wine_session
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
zip_lists_its_files() {  # bits
  local listed dir=halfmap-$version-win$1
  listed=$(unzip -Z1 "$a/$dir.zip" | tr '\n' ' ')
  echo "  $listed"
  [ "$listed" = "$dir/LICENSE $dir/README.md $dir/halfmap-cli.exe $dir/halfmap.exe " ] || return 1
  # The user's README, not the developers'.
  unzip -p "$a/$dir.zip" "$dir/README.md" | cmp -s - resources/README.user.md
}
set +e
for bits in 32 64; do
  zip_lists_its_files $bits; record "the win$bits zip holds both executables, the user's README and LICENSE" $?
done
set -e

# --- What the packages hold, and the validators --------------------------------------
for package in halfmap halfmap-cli; do
  dpkg -x "$a/${package}_${version}_"*.deb "$work/$package"
done
packages_hold() {
  local status=0 path
  for path in halfmap/usr/bin/halfmap halfmap/usr/share/man/man1/halfmap.1.gz \
      halfmap/usr/share/doc/halfmap/README.md halfmap/usr/share/doc/halfmap/copyright \
      halfmap/usr/share/icons/hicolor/scalable/apps/halfmap.svg \
      halfmap-cli/usr/bin/halfmap-cli halfmap-cli/usr/share/doc/halfmap-cli/README.md \
      halfmap-cli/usr/share/bash-completion/completions/halfmap-cli \
      halfmap-cli/usr/share/zsh/vendor-completions/_halfmap-cli \
      halfmap-cli/usr/share/fish/vendor_completions.d/halfmap-cli.fish; do
    [ -f "$work/$path" ] || { echo "  FAIL  no $path"; status=1; }
  done
  for size in 16 24 32 48 64 128 256; do
    file "$work/halfmap/usr/share/icons/hicolor/${size}x$size/apps/halfmap.png" |
      grep -q "PNG image data, $size x $size" || { echo "  FAIL  no ${size}x$size icon"; status=1; }
  done
  # Each program in its own package only.
  [ ! -e "$work/halfmap/usr/bin/halfmap-cli" ] && [ ! -e "$work/halfmap-cli/usr/bin/halfmap" ] || status=1
  return $status
}
validators_pass() {
  local status=0
  desktop-file-validate "$work/halfmap/usr/share/applications/halfmap.desktop" || status=1
  appstreamcli validate --no-net "$work/halfmap/usr/share/metainfo/halfmap.metainfo.xml" | sed 's/^/  /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  # Errors fail; warnings are printed for a reader to weigh.
  lintian --fail-on error --tag-display-limit 0 "$a"/*.deb | sed 's/^/  /'
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  return $status
}
set +e
packages_hold; record "each package holds its program, man page, README, icons or completions" $?
validators_pass; record "desktop-file-validate, appstreamcli and lintian pass" $?
set -e

# --- The package installs and runs -------------------------------------------------
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --target halfmap_demo_maps halfmap-cli --parallel 2 >/dev/null
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing both packages with apt into this system."
  cp "$a"/*.deb "$work/"
  apt-get install -y -q "$work"/halfmap_*.deb "$work"/halfmap-cli_*.deb >/dev/null
  installed=yes
  bin=/usr/bin/halfmap-cli
  man=/usr/share/man/man1/halfmap-cli.1.gz
else
  echo "Not root: using halfmap-cli as unpacked with dpkg -x instead of installing it."
  bin=$work/halfmap-cli/usr/bin/halfmap-cli
  man=$work/halfmap-cli/usr/share/man/man1/halfmap-cli.1.gz
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

window_is_installed() {
  local status=0 entry=/usr/share/applications/halfmap.desktop
  desktop-file-validate "$entry" && update-desktop-database -q /usr/share/applications || status=1
  grep -qx 'Exec=halfmap %f' "$entry" || { echo "  FAIL  $entry: no Exec=halfmap %f"; status=1; }
  [ -f /usr/share/man/man1/halfmap.1.gz ] || { echo "  FAIL  no man page"; status=1; }
  # Started from a folder without maps, it must still be up after two seconds.
  mkdir "$work/empty"
  (cd "$work/empty" && QT_QPA_PLATFORM=offscreen timeout 2 /usr/bin/halfmap) >"$work/window.log" 2>&1
  [ $? -eq 124 ] || { echo "  FAIL  the installed window ended early:"; sed 's/^/    /' "$work/window.log"; status=1; }
  return $status
}
removes_cleanly() {
  local status=0 path
  dpkg -L halfmap halfmap-cli >"$work/files"
  apt-get remove -y -q halfmap halfmap-cli >/dev/null || status=1
  installed=
  while read -r path; do
    [ -d "$path" ] && continue
    [ -e "$path" ] || [ -L "$path" ] && { echo "  FAIL  left behind: $path"; status=1; }
  done <"$work/files"
  for path in /usr/share/doc/halfmap /usr/share/doc/halfmap-cli; do
    [ ! -e "$path" ] || { echo "  FAIL  left behind: $path"; status=1; }
  done
  echo "  $(grep -c . "$work/files") paths listed"
  return $status
}
if [ -n "$installed" ]; then
  set +e
  window_is_installed; record "the installed window is in the menu database, has its man page and starts" $?
  removes_cleanly; record "removing both packages leaves none of their files" $?
  set -e
else
  echo "SKIP  installing the window and removing the packages: needs root"
fi

# --- The zips' programs under Wine ------------------------------------------------
# Each zip in a prefix of its own; the 32-bit one only where 32-bit programs run.
zip_runs_under_wine() {  # bits
  local dir=$work/win$1 status=0 out
  mkdir -p "$dir"
  unzip -q "$a/halfmap-$version-win$1.zip" -d "$dir"
  start_wine_session "$dir"
  out=$("${wine[@]}" "$dir/halfmap-$version-win$1/halfmap-cli.exe" --version | tr -d '\r'); echo "  $out"
  [ "$out" = "halfmap-cli $version" ] || status=1
  "${wine[@]}" "$dir/halfmap-$version-win$1/halfmap.exe" >/dev/null 2>&1 &
  timeout 30 xdotool search --sync --name '1/2MAP' >/dev/null || { echo "  FAIL  no window from halfmap.exe"; status=1; }
  stop_wine_session
  return $status
}
set +e
export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
wine=(/usr/lib/wine/wine64)
zip_runs_under_wine 64; record "the win64 zip's programs run under wine64" $?
if ! runs_32bit "$work"; then
  echo "SKIP  the win32 zip under Wine: this kernel cannot run 32-bit programs"
elif ! bash tools/install-deps.sh wine32:i386 >"$work/wine32.log" 2>&1; then
  echo "SKIP  the win32 zip under Wine: 32-bit Wine could not be installed: $(apt_failure "$work/wine32.log")"
else
  export WINEARCH=win32; unset WINELOADER
  wine=(wine)
  zip_runs_under_wine 32; record "the win32 zip's programs run under 32-bit Wine" $?
fi
set -e

echo "Release tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
