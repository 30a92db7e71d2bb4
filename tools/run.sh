#!/usr/bin/env bash
# Builds the tool and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh cmake ninja-build g++
cmake --preset release -DBUILD_TESTING=OFF
cmake --build --preset release
echo "built: build/release (the window comes with the Qt layer)"
