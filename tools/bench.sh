#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (release) into build-bench/ and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh test
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOSTREL_TESTS=OFF -DVOSTREL_BENCH=ON
cmake --build build-bench -j"$(nproc)"
for bench in build-bench/bench/bench_*; do
  [[ -x "$bench" ]] || continue
  echo "== $(basename "$bench")"
  "$bench"
done
