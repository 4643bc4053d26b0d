#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (release) into build-bench/ and runs them.
# Each prints its figures and the ratio it is judged by; one that cannot run does not stop
# the others.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh test
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOSTREL_TESTS=OFF -DVOSTREL_BENCH=ON
cmake --build build-bench -j"$(nproc)"
status=0
for bench in build-bench/bench/bench_*; do
  [[ -f "$bench" && -x "$bench" ]] || continue
  echo "== $(basename "$bench")"
  "$bench" || { echo "$(basename "$bench") failed"; status=1; }
done
exit $status
