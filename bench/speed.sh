#!/usr/bin/env bash
# The speed targets a warm page cache does not show, each measured in one
# run with the repetitions interleaved, so load from elsewhere falls on every
# row alike. Medians of RUNS runs (default 5).
#
#   bash bench/speed.sh cold [SIZE]   the input evicted from the page cache
#       before every run: halfmap's core against cat and ImageMagick; then,
#       the input cached, against the C reference.
#   bash bench/speed.sh wine [SIZE]   three SIZE x SIZE maps, inputs cached:
#       the Linux core, the Windows core under Wine, a whole run through the
#       Windows window under Wine (key press on Run to the last output's
#       rename) and one through the Qt window.
#
# SIZE defaults to 16384 (256 MiB a map). COLD_DIR=FOLDER puts the cold map
# in a new folder inside FOLDER, e.g. on another disk.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
mode=${1:-}
size=${2:-16384}
runs=${RUNS:-5}
case $mode in
  cold | wine) ;;
  *) echo "usage: bash bench/speed.sh cold|wine [SIZE]" >&2; exit 2 ;;
esac

bash tools/install-deps.sh cmake ninja-build g++ libbenchmark-dev qt6-base-dev librsvg2-bin icoutils time bc util-linux
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null
bin=$PWD/build/bench/bench
work=$(mktemp -d "${TMPDIR:-/tmp}/halfmap-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT

declare -A cmd

# Runs a row's command once and appends "seconds peak-KiB wall-seconds" to
# its figures. Where the program reports its own seconds or peak, on output
# lines starting with the given text, those are taken instead.
run_row() {  # row, [seconds line start], [peak KiB line start]
  local figures wall peak seconds out=/dev/null
  [ -n "${2:-}" ] && out=$work/out  # kept only when read: cat's is the map
  if ! figures=$(timed "${cmd[$1]}" "$work" "$out"); then
    echo "$1 failed: $(head -c 300 "$work/err" "$out" 2>/dev/null | tr '\n' ' ')" >&2
    exit 1
  fi
  wall=${figures% *}
  peak=${figures#* }
  seconds=$wall
  # Windows programs end their lines with CR LF.
  [ -n "${2:-}" ] && seconds=$(tr -d '\r' <"$work/out" | sed -n "s/^$2//p" | tail -n1)
  [ -n "${3:-}" ] && peak=$(tr -d '\r' <"$work/out" | sed -n "s/^$3//p" | tail -n1)
  echo "$seconds $peak $wall" >>"$work/rows-$1"
}
med() { cut -d' ' -f"${2:-1}" "$work/rows-$1" | median; }
peak_mib() { printf '%.1f' "$(echo "$(cut -d' ' -f2 "$work/rows-$1" | sort -n | tail -n1) / 1024" | bc -l)"; }
row() {  # label, row, base row, remark
  printf '| %s | %.3f | %s | %s | %s |\n' "$1" "$(med "$2")" "$(peak_mib "$2")" "$(ratio "$(med "$2")" "$(med "$3")")" "$4"
}
load() { uptime | sed 's/.*load average: //'; }

# --- Cold ------------------------------------------------------------------
resident() { fincore --bytes --noheadings --output RES "$1" | tr -d ' '; }

# Drops a file's pages from the page cache: everything written out first, so
# no write-back of earlier runs' outputs falls into the next run, then the
# file advised away (dd's nocache is posix_fadvise DONTNEED). Where pages
# stay, as root the whole page cache is dropped instead.
evict() {
  sync
  dd if="$1" iflag=nocache count=0 status=none
  if [ "$(resident "$1")" != 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
    echo 1 >/proc/sys/vm/drop_caches
  fi
  [ "$(resident "$1")" = 0 ] || echo "warning: $(resident "$1") bytes of $1 stayed cached" >&2
}

cold_mode() {
  bash tools/install-deps.sh imagemagick
  local dir=$work
  if [ -n "${COLD_DIR:-}" ]; then
    cold_dir=$(mktemp -d "$COLD_DIR/halfmap-cold.XXXXXX")
    trap 'rm -rf "$work" "$cold_dir"' EXIT
    dir=$cold_dir
  fi
  local map=$dir/MAP29361206-1.BMP
  "$bin/halfmap-genmap" "$map" "$size" "$size"
  cmd[cat]="cat '$map'"
  cmd[halfmap]="'$bin/halfmap-core' '$dir'"
  cmd[imagemagick]=$(imagemagick_halve "$map" "$work/im.bmp" "$work")
  cmd[warm-halfmap]=${cmd[halfmap]}
  cmd[reference]="'$bin/halfmap-reference' '$map' '$work/ref.bmp'"
  local before; before=$(load)
  for _ in $(seq "$runs"); do
    for name in cat halfmap imagemagick; do
      evict "$map"
      run_row "$name"
    done
    cat "$map" >/dev/null
    run_row warm-halfmap
    run_row reference
  done
  local core=$(med halfmap) cat=$(med cat) im=$(med imagemagick) warm=$(med warm-halfmap) ref=$(med reference)
  echo
  echo "cold: ${size}x${size} map ($(($(stat -c %s "$map") / 1048576)) MiB) on $(df --output=source "$dir" | tail -n1)," \
    "$runs runs each, $(date -u '+%F %H:%M') UTC, $(nproc) cores, load $before -> $(load)"
  echo
  echo '| run | median s | peak MiB | ratio | |'
  echo '|---|---:|---:|---:|---|'
  row '`cat`, cold' cat cat 'the base of the cold ratios'
  row 'halfmap core, cold' halfmap cat "× \`cat\`: target ≤ 2.5, $(verdict "$(ratio "$core" "$cat")" 2.5)"
  row 'ImageMagick `-sample 50%`, cold' imagemagick halfmap \
    "× halfmap: target ≥ 5, $(verdict "$(ratio "$im" "$core")" 5 ge)"
  row 'halfmap core, warm' warm-halfmap reference "× C reference: target ≤ 1.3, $(verdict "$(ratio "$warm" "$ref")" 1.3)"
  row 'C reference, warm' reference reference ''
  echo
  echo "peak memory of the core: $(peak_mib halfmap) MiB (target ≤ 16, $(verdict "$(peak_mib halfmap)" 16))"
}

# --- Wine ------------------------------------------------------------------
wine_mode() {
  bash tools/install-deps.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb fonts-noto-cjk
  source tools/wine-session.sh
  trap 'stop_wine_session; rm -rf "$work"' EXIT
  choose_wine_build "$work" -DHALFMAP_BENCH=ON -- halfmap halfmap-core wine_driver >/dev/null
  start_wine_session "$work"
  local dir=$work/maps wdir
  mkdir -p "$dir"
  wdir=$(winpath "$dir")
  "$bin/halfmap-genmap" "$dir/MAP29361206-1.BMP" "$size" "$size"
  cp "$dir/MAP29361206-1.BMP" "$dir/MAP29361206-NS1.BMP"
  cp "$dir/MAP29361206-1.BMP" "$dir/MAP29361206-X1.BMP"
  cp "$win_build/app/win32/halfmap.exe" "$dir/"
  cat "$dir"/*1.BMP >/dev/null  # into the page cache

  cmd[linux]="'$bin/halfmap-core' --seconds '$dir' '' NS X"
  cmd[wincore]="${wine[*]} '$win_build/bench/halfmap-core.exe' --seconds '$wdir' '' NS X"
  cmd[winwindow]="${wine[*]} '$win_build/tests/windows/driver/wine_driver.exe' timed-run '$wdir\\halfmap.exe' '$wdir\\MAP29361206-X2.BMP'"
  cmd[qt]="QT_QPA_PLATFORM=offscreen '$bin/halfmap-window-run' '$dir'"
  # The same Windows program printing its usage: Wine's own memory.
  cmd[baseline]="${wine[*]} '$win_build/bench/halfmap-core.exe' || true"
  local before; before=$(load)
  for _ in $(seq "$runs"); do
    for name in linux wincore winwindow qt; do
      rm -f "$dir"/*2.BMP
      if [ "$name" = winwindow ]; then run_row "$name" "seconds " "peak KiB "; else run_row "$name" "seconds "; fi
    done
    run_row baseline
  done
  local linux=$(med linux) wincore=$(med wincore) winwindow=$(med winwindow) qt=$(med qt)
  echo
  echo "wine: three ${size}x${size} maps ($((3 * $(stat -c %s "$dir/MAP29361206-1.BMP") / 1048576)) MiB in all), inputs cached," \
    "$runs runs each, $(date -u '+%F %H:%M') UTC, $(nproc) cores, load $before -> $(load)"
  echo "Windows build: $win_kind, $("${wine[@]}" --version 2>/dev/null)"
  echo
  echo '| run | median s | peak MiB | × Linux core | |'
  echo '|---|---:|---:|---:|---|'
  row 'Linux core' linux linux ''
  row 'Windows core under Wine' wincore linux "target ≤ 1.5, $(verdict "$(ratio "$wincore" "$linux")" 1.5)"
  printf '| %s | %.3f | | %s | %s |\n' 'the same, timed from outside (Wine start-up included)' "$(med wincore 3)" \
    "$(ratio "$(med wincore 3)" "$linux")" ''
  row 'Windows window under Wine, key press on Run to the last rename' winwindow linux \
    "target ≤ 2, $(verdict "$(ratio "$winwindow" "$linux")" 2)"
  row 'Qt window (offscreen), click on Run to the end of the run' qt linux "target ≤ 1.2, $(verdict "$(ratio "$qt" "$linux")" 1.2)"
  echo
  local base; base=$(peak_mib baseline)
  echo "peak memory: Linux core $(peak_mib linux) MiB (target ≤ 16, $(verdict "$(peak_mib linux)" 16));" \
    "Windows core under Wine $(peak_mib wincore) MiB against Wine's own $base MiB" \
    "(the same program printing its usage), so $(printf '%.1f' "$(echo "$(peak_mib wincore) - $base" | bc -l)") MiB" \
    "of its own (target ≤ 16, $(verdict "$(echo "$(peak_mib wincore) - $base" | bc -l)" 16))"
}

"${mode}_mode"
