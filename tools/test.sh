#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-test/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh test
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DVOSTREL_SANITIZE=ON -DVOSTREL_BENCH=OFF \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-test -j"$(nproc)"
cd build-test
ctest --output-on-failure -j"$(nproc)" "$@"
