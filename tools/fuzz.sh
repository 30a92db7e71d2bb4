#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for SECONDS (default 60),
# starting from the kept inputs in tests/hardening/corpus. What it finds goes
# to build/fuzz/work; a crash or a disagreement with the model is saved in
# build/fuzz/crashes and fails the run. With --keep, the inputs that reach new
# code are merged into the kept folder, to be replayed by the unit tests.
# Usage: bash tools/fuzz.sh [SECONDS] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
keep=${2:-}

bash tools/install-deps.sh cmake ninja-build clang-14 libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel 2

work=build/fuzz/work
crashes=build/fuzz/crashes
mkdir -p "$work" "$crashes"
cp -n tests/hardening/corpus/* "$work"/
fuzzer=build/fuzz/tests/hardening/fuzz/halfmap-fuzz
# Maps need their 1078-byte prefix and a few rows; -timeout catches a hang.
"$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$work" 2>"build/fuzz/log" || {
  tail -n 40 build/fuzz/log
  echo "fuzzing found a failure; the input is in $crashes" >&2
  exit 1
}
echo "fuzz executions: $(sed -n 's/^stat::number_of_executed_units: *//p' build/fuzz/log)"
if [ "$keep" = --keep ]; then
  "$fuzzer" -merge=1 tests/hardening/corpus "$work" 2>/dev/null
  echo "kept inputs: $(ls tests/hardening/corpus | wc -l)"
fi
