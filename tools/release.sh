#!/usr/bin/env bash
# Writes the release into dist/: halfmap-<version>-win32.zip (both Windows
# executables, README and LICENSE), a Debian package of halfmap-cli with its
# man page, and SHA256SUMS.
#
# The same commit gives the same bytes in any folder: SOURCE_DATE_EPOCH is
# the commit's date (set it yourself outside a git checkout), the executables
# carry no build paths or link times, and archive entries have fixed times,
# owners, modes and order.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh cmake ninja-build g++ g++-mingw-w64-i686-posix zip dpkg-dev binutils

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C.UTF-8
umask 022

cmake --preset dist-linux >/dev/null
cmake --build --preset dist-linux --parallel 2
cmake --preset dist-win32 >/dev/null
cmake --build --preset dist-win32 --parallel 2
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

# --- The Windows zip: one folder, portable -------------------------------------
win=halfmap-$version-win32
mkdir "$stage/$win"
cp build/dist-win32/app/win32/halfmap.exe build/dist-win32/app/cli/halfmap-cli.exe README.md LICENSE "$stage/$win/"
settle "$stage/$win" "$stage/$win"/*.exe
(cd "$stage" && find "$win" -type f | sort | zip -X -D -q -9 -@ "../../dist/$win.zip")

# --- The Debian package ----------------------------------------------------------
deb=$stage/deb
DESTDIR=$deb cmake --install build/dist-linux --prefix /usr >/dev/null
gzip -9n "$deb/usr/share/man/man1/halfmap-cli.1"
mv "$deb/usr/share/doc/halfmap-cli/LICENSE" "$deb/usr/share/doc/halfmap-cli/copyright"
# The C++ runtime is linked in, so only the C library is needed, at the
# newest symbol version the program uses.
glibc=$(objdump -T "$deb/usr/bin/halfmap-cli" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -uV | tail -1)
mkdir "$deb/DEBIAN"
cat >"$deb/DEBIAN/control" <<CONTROL
Package: halfmap-cli
Version: $version
Architecture: $arch
Maintainer: the halfmap authors <halfmap@users.noreply.invalid>
Installed-Size: $(du -sk --apparent-size "$deb/usr" | cut -f1)
Depends: libc6 (>= $glibc)
Section: graphics
Priority: optional
Description: half-scale copies of map bitmaps from the command line
 halfmap-cli converts the three 8-bit palette map bitmaps of each folder
 given (MAP29361206-1.BMP, -NS1.BMP and -X1.BMP) into copies half as wide
 and half as high, keeping one pixel of every 2x2 block, several maps at
 once if asked. An earlier output survives any failure or interruption.
CONTROL
settle "$deb" "$deb/usr/bin/halfmap-cli"
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$deb" "dist/halfmap-cli_${version}_${arch}.deb" >/dev/null

(cd dist && sha256sum -- *.zip *.deb >SHA256SUMS)
echo "dist/ for halfmap $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd dist && cat SHA256SUMS)
