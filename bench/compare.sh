#!/usr/bin/env bash
# Times halfmap's core against the tools people use instead, on one generated
# map whose input is in the page cache, and checks whose output equals ours.
# Prints one table: median wall time of RUNS runs, peak memory, ratio to
# halfmap (for the same map RLE8-encoded, to halfmap on that map); then the in-process benchmarks' medians (sizes 8192 and 16384).
# Usage: bash bench/compare.sh [SIZE]   (default 16384, i.e. 256 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
size=${1:-16384}
runs=${RUNS:-5}

bash tools/install-deps.sh cmake ninja-build g++ libbenchmark-dev time bc
# Peers come from Debian; one that cannot be installed is skipped below.
for peer in imagemagick graphicsmagick python3-numpy; do
  bash tools/install-deps.sh "$peer" >/dev/null 2>&1 || echo "could not install $peer"
done
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build/bench/bench
# Debian's own interpreter, the one its numpy package serves.
py=/usr/bin/python3

work=$(mktemp -d "${TMPDIR:-/tmp}/halfmap-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
in=$work/MAP29361206-1.BMP
"$bin/halfmap-genmap" "$in" "$size" "$size"
# The same map with RLE8 rows, as ImageMagick and GraphicsMagick save it.
rle=$work/rle
mkdir -p "$rle"
in_rle=$rle/MAP29361206-1.BMP
"$bin/halfmap-genmap" "$in_rle" "$size" "$size" rle
cat "$in" "$in_rle" >/dev/null  # into the page cache

declare -A cmd out
names=(cat halfmap reference numpy imagemagick graphicsmagick halfmap-rle imagemagick-rle)
cmd[cat]="cat '$in'"
out[cat]=/dev/null
cmd[halfmap]="'$bin/halfmap-core' '$work'"
out[halfmap]=$work/MAP29361206-2.BMP
cmd[reference]="'$bin/halfmap-reference' '$in' '$work/ref.bmp'"
out[reference]=$work/ref.bmp
# OpenBLAS tuning variables set on this machine only slow numpy down.
cmd[numpy]="env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $py bench/numpy_halve.py '$in' '$work/numpy.bmp'"
out[numpy]=$work/numpy.bmp
cmd[imagemagick]=$(imagemagick_halve "$in" "$work/im.bmp" "$work")
out[imagemagick]=$work/im.bmp
cmd[graphicsmagick]="gm convert '$in' -sample 50% -compress none 'BMP3:$work/gm.bmp'"
out[graphicsmagick]=$work/gm.bmp
cmd[halfmap-rle]="'$bin/halfmap-core' '$rle'"
out[halfmap-rle]=$rle/MAP29361206-2.BMP
cmd[imagemagick-rle]=$(imagemagick_halve "$in_rle" "$work/im-rle.bmp" "$work")
out[imagemagick-rle]=$work/im-rle.bmp

available() {
  case $1 in
    numpy) "$py" -c "import numpy" 2>/dev/null ;;
    imagemagick | imagemagick-rle) command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick ;;
    graphicsmagick) command -v gm >/dev/null ;;
    *) true ;;
  esac
}

declare -A wall peak status
for name in "${names[@]}"; do
  if ! available "$name"; then status[$name]="skipped (not installed)"; continue; fi
  : >"$work/runs"
  for _ in $(seq "$runs"); do
    if ! timed "${cmd[$name]}" "$work" >>"$work/runs"; then
      status[$name]="failed: $(head -c 200 "$work/err" | tr '\n' ' ')"
      break
    fi
  done
  [ -n "${status[$name]:-}" ] && continue
  wall[$name]=$(cut -d' ' -f1 "$work/runs" | median)
  peak[$name]=$(cut -d' ' -f2 "$work/runs" | sort -n | tail -n1)
done

# The core, the C reference and, when the Qt window is built, conversions
# through the window, all in one process; repetitions interleaved so load
# from elsewhere falls on all of them alike.
gbench=$bin/halfmap-bench
[ -x "$bin/halfmap-window-bench" ] && gbench=$bin/halfmap-window-bench
case $size in
  8192 | 16384)
    "$gbench" --benchmark_filter="/$size/" --benchmark_repetitions="$runs" --benchmark_enable_random_interleaving=true \
      --benchmark_report_aggregates_only=true \
      --benchmark_out_format=json --benchmark_out="$work/gbench.json" >/dev/null 2>"$work/gbench.err" ;;
esac

# Output checks against ours.
declare -A same
# The RLE8 map holds the same pixels, so its halving does too.
for name in reference numpy imagemagick graphicsmagick halfmap-rle imagemagick-rle; do
  if [ -z "${wall[$name]:-}" ] || ! available numpy; then same[$name]="-"; continue; fi
  ours=${out[halfmap]}
  [ "$name" = imagemagick-rle ] && ours=${out[halfmap-rle]}
  same[$name]=$("$py" bench/compare_bmp.py "$ours" "${out[$name]}" 2>&1 | tr ' ' '/')
done

echo
echo "map: ${size}x${size} 8-bit ($(($(stat -c %s "$in") / 1048576)) MiB; RLE8 $(($(stat -c %s "$in_rle") / 1048576)) MiB), $runs runs each, $(date -u +%F), $(nproc) cores, $(uname -r)"
printf '%-15s %10s %10s %12s  %s\n' tool "median s" "peak MiB" "x halfmap" "bytes/pixels/palette vs ours"
for name in "${names[@]}"; do
  if [ -n "${status[$name]:-}" ]; then printf '%-15s %s\n' "$name" "${status[$name]}"; continue; fi
  base=${wall[halfmap]}
  [ "$name" = imagemagick-rle ] && base=${wall[halfmap-rle]}
  printf '%-15s %10.3f %10.1f %12.2f  %s\n' "$name" "${wall[$name]}" \
    "$(echo "${peak[$name]} / 1024" | bc -l)" "$(echo "${wall[$name]} / $base" | bc -l)" "${same[$name]:--}"
done
if [ -s "$work/gbench.json" ]; then
  echo
  "$py" bench/gbench_table.py "$work/gbench.json"
fi
