#!/usr/bin/env bash
# Builds every benchmark (target rvx_benchmarks, optimised) and runs each
# bench_* executable in turn. Each prints its figures and the ratios of the
# pairs it measures side by side.
# Usage: bench/run.sh [extra Google Benchmark flags, e.g. --benchmark_filter=Relay]
# The build folder is build-bench in the source tree unless RVX_BENCH_BUILD_DIR
# names another. Some benchmarks need root (a private network namespace).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RVX_BENCH_BUILD_DIR:-$root/build-bench}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DRVX_LIBRARIES_ONLY=ON -DRVX_BUILD_TESTS=OFF -DRVX_BUILD_BENCH=ON > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
ninja -C "$build" rvx_benchmarks

status=0
for program in $(find "$build/bench" -maxdepth 1 -type f -executable -name 'bench_*' | sort); do
  echo "=== $(basename "$program")"
  "$program" "$@" || status=1
done
exit $status
