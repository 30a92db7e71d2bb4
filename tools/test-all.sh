#!/usr/bin/env bash
# Builds everything and runs every test, installing what is missing first.
# This is the README's test command; CI runs exactly this.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev

cmake --preset release
cmake --build --preset release
ctest --preset release

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, then a
# bounded fuzzing run over the bitmap reading and halving path.
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
bash tools/fuzz.sh 60
