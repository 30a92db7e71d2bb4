#!/usr/bin/env bash
# halfmap-cli's throughput with more jobs: four folders of three 4096 x 4096
# maps (192 MiB of input, in the page cache), converted at -j 1, 2 and 4.
# Prints the median wall time of RUNS runs, input MiB/s, the speed-up over
# -j 1, the CPU used (100 % is one core), and peak memory in all and per
# running conversion (/usr/bin/time). Wall time is taken by the shell, as
# /usr/bin/time counts in 10 ms steps.
#
# The folders lie first on disk (TMPDIR), then in memory (/dev/shm), where
# putting each output on disk costs nothing: the difference is the flushes.
# Last, --verify against converting one 256 MiB map (verify_bench below).
# Usage: bash bench/cli_bench.sh [verify | watch]   (RUNS=5 by default;
# "verify" runs only the last part; "watch" measures --watch instead:
# bench/cli_watch_bench.py, about a minute)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}

bash tools/install-deps.sh cmake ninja-build g++ libbenchmark-dev qt6-base-dev librsvg2-bin time bc
cmake --preset bench >/dev/null
cmake --build --preset bench --target halfmap-cli halfmap-genmap >/dev/null
cli=$PWD/build/bench/app/cli/halfmap-cli
genmap=$PWD/build/bench/bench/halfmap-genmap

works=()
trap 'rm -rf "${works[@]}"' EXIT
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

bench_in() {  # parent folder
  local work folders=() input_mib base= jobs seconds peak_kib cpu
  work=$(mktemp -d "$1/halfmap-cli-bench.XXXXXX")
  works+=("$work")
  "$genmap" "$work/map.bmp" 4096 4096
  for f in 1 2 3 4; do
    mkdir "$work/area$f"
    for name in 1 NS1 X1; do cp "$work/map.bmp" "$work/area$f/MAP29361206-$name.BMP"; done
    folders+=("$work/area$f")
  done
  rm "$work/map.bmp"
  cat "$work"/area*/*1.BMP >/dev/null  # into the page cache
  input_mib=$(du -cm --apparent-size "$work"/area*/*1.BMP | tail -1 | cut -f1)

  echo "in $1 ($(df --output=fstype "$1" | tail -1)), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '| jobs | median s | MiB/s | × -j 1 | CPU %% | peak MiB | peak MiB per conversion |\n'
  printf '|---:|---:|---:|---:|---:|---:|---:|\n'
  for jobs in 1 2 4; do
    : >"$work/times"
    for _ in $(seq "$runs"); do
      rm -f "$work"/area*/*2.BMP  # every run writes new files
      start=$EPOCHREALTIME
      /usr/bin/time -f '%M %P' -o "$work/one" "$cli" -q -j "$jobs" "${folders[@]}" >/dev/null
      echo "$(bc <<<"$EPOCHREALTIME - $start") $(cat "$work/one")" >>"$work/times"
    done
    seconds=$(cut -d' ' -f1 "$work/times" | median)
    peak_kib=$(cut -d' ' -f2 "$work/times" | sort -g | tail -1)
    cpu=$(cut -d' ' -f3 "$work/times" | tr -d % | median)
    base=${base:-$seconds}
    awk -v j="$jobs" -v s="$seconds" -v b="$base" -v m="$input_mib" -v k="$peak_kib" -v c="$cpu" \
      'BEGIN { printf "| %d | %.3f | %.0f | %.2f | %d | %.1f | %.1f |\n", j, s, m / s, b / s, c, k / 1024, k / 1024 / j }'
  done
  rm -rf "$work"
}

# --verify against converting the same 16384 x 16384 map (256 MiB, in the
# page cache): the check reads the input and the output once each and
# writes nothing; the conversion writes and flushes its output.
verify_bench() {  # parent folder
  local work kind seconds peak_kib
  work=$(mktemp -d "$1/halfmap-cli-verify.XXXXXX")
  works+=("$work")
  "$genmap" "$work/MAP29361206-1.BMP" 16384 16384
  "$cli" -q "$work" >/dev/null
  echo "256 MiB map in $1 ($(df --output=fstype "$1" | tail -1)), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '| run | median s | peak MiB |\n|---|---:|---:|\n'
  for kind in convert verify; do
    : >"$work/times"
    for _ in $(seq "$runs"); do
      cat "$work"/*.BMP >/dev/null  # both files in the page cache
      start=$EPOCHREALTIME
      if [ "$kind" = convert ]; then
        /usr/bin/time -f '%M' -o "$work/one" "$cli" -q "$work" >/dev/null
      else
        /usr/bin/time -f '%M' -o "$work/one" "$cli" -q --verify "$work" >/dev/null
      fi
      echo "$(bc <<<"$EPOCHREALTIME - $start") $(cat "$work/one")" >>"$work/times"
    done
    seconds=$(cut -d' ' -f1 "$work/times" | median)
    peak_kib=$(cut -d' ' -f2 "$work/times" | sort -g | tail -1)
    awk -v k="$kind" -v s="$seconds" -v p="$peak_kib" 'BEGIN { printf "| %s | %.3f | %.1f |\n", k, s, p / 1024 }'
  done
  rm -rf "$work"
}

if [ "${1:-}" = verify ]; then
  verify_bench "${TMPDIR:-/tmp}"
elif [ "${1:-}" = watch ]; then
  python3 bench/cli_watch_bench.py "$cli" "$genmap"
else
  bench_in "${TMPDIR:-/tmp}"
  [ -d /dev/shm ] && bench_in /dev/shm
  verify_bench "${TMPDIR:-/tmp}"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
