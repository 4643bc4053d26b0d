#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into a build directory of their own and runs them.
#
#   bash tests/fuzz/fuzz.sh [-B DIR] [-t SECONDS] [--build-only | --no-build] [TARGET...]
#                           [-- LIBFUZZER-OPTION...]
#
# -B: the build directory (default build-fuzz); -t: how long each target runs (default 60).
# TARGET: fuzz_report, fuzz_kml, fuzz_log_text, fuzz_gpx (default: all, one after another).
# Inputs that reach new code are kept in DIR/corpus/TARGET (the seeds in tests/fuzz/corpus are
# only read); an input that fails is written to DIR/artifacts/ and the script fails. Run one
# again with DIR/tests/fuzz/TARGET FILE. The compiler is $CXX if set, else clang++-14.
set -euo pipefail

# All in one function, read whole before it runs: editing this file during a long run is safe.
main() {
  here="$(cd "$(dirname "$0")" && pwd)"
  root="$(cd "$here/../.." && pwd)"
  build="build-fuzz"
  seconds=60
  build_step=1
  run_step=1
  targets=()
  extra=()
  while [[ $# -gt 0 ]]; do
    case "$1" in
      -B) build="$2"; shift 2 ;;
      -t) seconds="$2"; shift 2 ;;
      --build-only) run_step=0; shift ;;
      --no-build) build_step=0; shift ;;
      --) shift; extra=("$@"); break ;;
      -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
      *) targets+=("$1"); shift ;;
    esac
  done
  [[ ${#targets[@]} -eq 0 ]] && targets=(fuzz_report fuzz_kml fuzz_log_text fuzz_gpx fuzz_arrivals)
  mkdir -p "$build"
  build="$(cd "$build" && pwd)"

  if [[ $build_step -eq 1 ]]; then
    cxx="${CXX:-clang++-14}"
    if ! command -v "$cxx" >/dev/null; then
      echo "fuzz.sh: $cxx not found (bash tools/install-deps.sh test installs clang-14)" >&2
      exit 1
    fi
    cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug \
      -DVOSTREL_FUZZ=ON -DVOSTREL_TESTS=OFF -DVOSTREL_BENCH=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
  fi
  [[ $run_step -eq 0 ]] && exit 0

  mkdir -p "$build/artifacts"
  cd "$build"  # where -jobs writes its logs
  for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
             -artifact_prefix="$build/artifacts/$target-")
    [[ -f "$here/$target.dict" ]] && options+=(-dict="$here/$target.dict")
    echo "== $target: $seconds s"
    # The first folder takes what the run finds; the seeds are read only.
    "$build/tests/fuzz/$target" "${options[@]}" "${extra[@]}" "$corpus" "$here/corpus/$target"
  done
}

main "$@"
