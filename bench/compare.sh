#!/usr/bin/env bash
# Times halfmap's core against the tools people use instead, on one generated
# map whose input is in the page cache, and checks whose output equals ours.
# Prints one table: median wall time of RUNS runs, peak memory, ratio to
# halfmap (for the same map RLE8-encoded, to halfmap on that map); then the in-process benchmarks' medians (sizes 8192 and 16384);
# then every layout the peers write, against ImageMagick and the 8-bit map.
# Usage: bash bench/compare.sh [SIZE]   (default 16384, i.e. 256 MiB; the layouts at LAYOUT_SIZE, default SIZE)
#        bash bench/compare.sh layouts [SIZE]   (the layouts table alone, default 16384)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
mode=all
if [ "${1:-}" = layouts ]; then mode=layouts; shift; fi
size=${1:-16384}
layout_size=${LAYOUT_SIZE:-$size}
runs=${RUNS:-5}

bash tools/install-deps.sh cmake ninja-build g++ libbenchmark-dev qt6-base-dev librsvg2-bin time bc
# Peers come from Debian; one that cannot be installed is skipped below.
for peer in imagemagick graphicsmagick python3-numpy; do
  bash tools/install-deps.sh "$peer" >/dev/null 2>&1 || echo "could not install $peer"
done
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bin=build/bench/bench
# Debian's own interpreter, the one its numpy package serves.
py=/usr/bin/python3

available() {
  case $1 in
    numpy) "$py" -c "import numpy" 2>/dev/null ;;
    imagemagick | imagemagick-rle) command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick ;;
    graphicsmagick) command -v gm >/dev/null ;;
    *) true ;;
  esac
}

work=$(mktemp -d "${TMPDIR:-/tmp}/halfmap-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Every layout in the peers' table, converted by halfmap and by ImageMagick,
# runs interleaved. Targets: ImageMagick at least 20 times slower; at most
# twice the 8-bit map's time, times how much larger the file is (no less than
# twice for a smaller file); peak memory at most 16 MiB. A layout halfmap
# refuses is reported as refused.
layouts_table() {  # size
  local lsize=$1 l r dir t
  local layouts=(1 4 8 rle8 rle4 16 24 32)
  declare -A bytes state
  for l in "${layouts[@]}"; do
    dir=$work/layout-$l
    mkdir -p "$dir"
    "$bin/halfmap-genmap" "$dir/MAP29361206-1.BMP" "$lsize" "$lsize" "$l"
    bytes[$l]=$(stat -c %s "$dir/MAP29361206-1.BMP")
    : >"$work/ours-$l"
    : >"$work/theirs-$l"
  done
  local load_before
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  for r in $(seq "$runs"); do
    for l in "${layouts[@]}"; do
      dir=$work/layout-$l
      cat "$dir/MAP29361206-1.BMP" >/dev/null
      if [ -z "${state[$l]:-}" ]; then
        if t=$(timed "'$bin/halfmap-core' '$dir'" "$work"); then
          echo "$t" >>"$work/ours-$l"
        else
          state[$l]="refused: $(head -c 120 "$work/err" | tr '\n' ' ')"
        fi
      fi
      if available imagemagick && t=$(timed "$(imagemagick_halve "$dir/MAP29361206-1.BMP" "$dir/im.bmp" "$work")" "$work"); then
        echo "$t" >>"$work/theirs-$l"
      fi
    done
  done
  echo
  echo "layouts: ${lsize}x${lsize} maps, $runs runs each interleaved, $(date -u '+%F %H:%M') UTC, $(nproc) cores," \
    "load $load_before -> $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-6s %9s %9s %9s %12s %9s %12s %12s  %s\n' layout "file MiB" "median s" "peak MiB" "ImageMagick s" "x halfmap" \
    "allowed s" "memory" "pixels vs ImageMagick"
  local base=""
  [ -s "$work/ours-8" ] && base=$(cut -d' ' -f1 "$work/ours-8" | median)
  for l in "${layouts[@]}"; do
    local mib im="-" times="-" allowed="-" wall="-" top="-" verdict_speed="" verdict_mem="" pixels="-"
    mib=$(echo "${bytes[$l]} / 1048576" | bc -l)
    [ -s "$work/theirs-$l" ] && im=$(printf '%.3f' "$(cut -d' ' -f1 "$work/theirs-$l" | median)")
    if [ -n "${state[$l]:-}" ]; then
      printf '%-6s %9.1f %9s %9s %12s  %s\n' "$l" "$mib" - - "$im" "${state[$l]}"
      continue
    fi
    wall=$(cut -d' ' -f1 "$work/ours-$l" | median)
    top=$(echo "$(cut -d' ' -f2 "$work/ours-$l" | sort -n | tail -n1) / 1024" | bc -l)
    verdict_mem="$(verdict "$top" 16)"
    if [ "$im" != - ]; then
      times=$(ratio "$im" "$wall")
      verdict_speed="$(verdict "$times" 20 ge)"
      if available numpy; then
        pixels=$("$py" bench/compare_bmp.py "$work/layout-$l/MAP29361206-2.BMP" "$work/layout-$l/im.bmp" 2>/dev/null |
          cut -d' ' -f2 || echo n/a)
      fi
    fi
    if [ -n "$base" ]; then
      local scale=1
      [ "${bytes[$l]}" -gt "${bytes[8]}" ] && scale=$(echo "${bytes[$l]} / ${bytes[8]}" | bc -l)
      allowed=$(echo "2 * $base * $scale" | bc -l)
      allowed="$(printf '%.3f' "$allowed") $(verdict "$wall" "$allowed")"
    fi
    printf '%-6s %9.1f %9.3f %9.1f %12s %9s %12s %12s  %s\n' "$l" "$mib" "$wall" "$top" \
      "$im" "$times $verdict_speed" "$allowed" "$verdict_mem" "${pixels:-n/a}"
  done
}
if [ "$mode" = layouts ]; then
  layouts_table "$size"
  exit 0
fi

in=$work/MAP29361206-1.BMP
"$bin/halfmap-genmap" "$in" "$size" "$size"
# The same map with RLE8 rows, as ImageMagick and GraphicsMagick save it.
rle=$work/rle
mkdir -p "$rle"
in_rle=$rle/MAP29361206-1.BMP
"$bin/halfmap-genmap" "$in_rle" "$size" "$size" rle8
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
layouts_table "$layout_size"
