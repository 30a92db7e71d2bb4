#!/usr/bin/env bash
# Writes the release into dist/: halfmap-<version>-win32.zip and -win64.zip
# (both Windows executables, the user's README and LICENSE), the Debian
# packages halfmap (the Qt window, its desktop entry, icon, AppStream data
# and man page) and halfmap-cli (with its man page and shell completions),
# and SHA256SUMS.
#
# The same commit gives the same bytes in any folder: SOURCE_DATE_EPOCH is
# the commit's date (set it yourself outside a git checkout), the executables
# carry no build paths or link times, and archive entries have fixed times,
# owners, modes and order.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh cmake ninja-build g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  qt6-base-dev librsvg2-bin icoutils zip dpkg-dev binutils

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C.UTF-8
umask 022

for preset in dist-linux dist-win32 dist-win64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset --parallel 2
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/dist-linux/CMakeCache.txt)
arch=$(dpkg --print-architecture)

stage=build/dist-stage
rm -rf dist "$stage"
mkdir -p dist "$stage"

# Fixed modes and times on everything that goes into an archive.
settle() {
  find "$1" -type d -exec chmod 0755 {} +
  find "$1" -type f -exec chmod 0644 {} +
  [ $# -gt 1 ] && chmod 0755 "${@:2}"
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# --- The Windows zips: one folder each, portable ----------------------------------
windows_zip() {  # bits, build folder
  local win=halfmap-$version-win$1
  mkdir "$stage/$win"
  cp "$2/app/win32/halfmap.exe" "$2/app/cli/halfmap-cli.exe" LICENSE "$stage/$win/"
  cp resources/README.user.md "$stage/$win/README.md"
  settle "$stage/$win" "$stage/$win"/*.exe
  (cd "$stage" && find "$win" -type f | sort | zip -X -D -q -9 -@ "../../dist/$win.zip")
}
windows_zip 32 build/dist-win32
windows_zip 64 build/dist-win64

# --- The Debian packages ---------------------------------------------------------
# Each package's tree lies in a scratch source tree's debian/<package>, where
# dpkg-shlibdeps finds the control file it wants and works out Depends from
# the libraries the executable links.
src=$stage/src
mkdir -p "$src/debian"
printf 'Source: halfmap\n\nPackage: halfmap\nArchitecture: any\n\nPackage: halfmap-cli\nArchitecture: any\n' \
  >"$src/debian/control"
# A native package's changelog, one entry per release; what changed in
# detail is the source's CHANGELOG.md.
debian_changelog() {  # package
  cat <<CHANGELOG
$1 ($version) unstable; urgency=medium

  * halfmap $version.

 -- the halfmap authors <halfmap@users.noreply.invalid>  $(date -R -d "@$SOURCE_DATE_EPOCH")
CHANGELOG
}
debian_package() {  # package, install component, extra control fields, description
  local deb=$src/debian/$1 depends
  DESTDIR=$PWD/$deb cmake --install build/dist-linux --prefix /usr --component "$2" >/dev/null
  debian_changelog "$1" >"$deb/usr/share/doc/$1/changelog"
  gzip -9n "$deb"/usr/share/man/man1/*.1 "$deb/usr/share/doc/$1/changelog"
  mkdir "$deb/DEBIAN"  # marks the package's root for dpkg-shlibdeps
  depends=$(cd "$src" && dpkg-shlibdeps -O -e"debian/$1/usr/bin/$1" | sed -n 's/^shlibs:Depends=//p')
  cat >"$deb/DEBIAN/control" <<CONTROL
Package: $1
Version: $version
Architecture: $arch
Maintainer: the halfmap authors <halfmap@users.noreply.invalid>
Installed-Size: $(du -sk --apparent-size "$deb/usr" | cut -f1)
Depends: $depends
$3Section: graphics
Priority: optional
Description: $4
CONTROL
  settle "$deb" "$deb/usr/bin/$1"
  dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$deb" "dist/${1}_${version}_${arch}.deb" >/dev/null
}
debian_package halfmap window 'Recommends: fonts-noto-cjk
Suggests: halfmap-cli
' 'window that makes half-scale copies of map bitmaps
 halfmap opens a small window over a folder holding the three 8-bit palette
 map bitmaps MAP29361206-1.BMP, -NS1.BMP and -X1.BMP, and converts them into
 copies half as wide and half as high, keeping one pixel of every 2x2 block,
 with a progress bar per map. An earlier output survives any failure or
 abort. Its texts are Japanese.'
debian_package halfmap-cli cli '' 'half-scale copies of map bitmaps from the command line
 halfmap-cli converts the three 8-bit palette map bitmaps of each folder
 given (MAP29361206-1.BMP, -NS1.BMP and -X1.BMP) into copies half as wide
 and half as high, keeping one pixel of every 2x2 block, several maps at
 once if asked. An earlier output survives any failure or interruption.'

(cd dist && sha256sum -- *.zip *.deb >SHA256SUMS)
echo "dist/ for halfmap $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd dist && cat SHA256SUMS)
