#!/usr/bin/env bash
# Installs the named Debian packages that are missing. Needs root (or sudo)
# only when something is missing.
set -euo pipefail
missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
added_i386=false
for pkg in "${missing[@]}"; do
  # Packages for another architecture need it enabled first.
  case "$pkg" in *:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${as_root[@]}" dpkg --add-architecture i386
      added_i386=true
    fi ;;
  esac
done
echo "installing: ${missing[*]}"
# One index that fails to download (a mirror caught mid-sync) need not stop
# an install that the lists already on this machine can satisfy.
refreshed=true
"${as_root[@]}" apt-get update -q || {
  refreshed=false
  echo "warning: the package index could not be refreshed; installing from the lists this machine has" >&2
}
if ! DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  $refreshed || echo "error: could not install ${missing[*]}, and the package index could not be refreshed" >&2
  # Leave the architectures as they were: a half-synced i386 index would
  # otherwise warn on every later install.
  $added_i386 && "${as_root[@]}" dpkg --remove-architecture i386 2>/dev/null
  exit 1
fi
