#!/usr/bin/env bash
# Installs what is missing, builds Vostrel (release) into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOSTREL_TESTS=OFF -DVOSTREL_BENCH=OFF
cmake --build build -j"$(nproc)" --target vostrel vostrel-sim
exec build/src/vostrel "$@"
