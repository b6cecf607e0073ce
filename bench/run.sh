#!/usr/bin/env bash
# Builds every benchmark (target rvx_benchmarks, optimised, with the windowed
# program that bench_program starts) and runs each bench_* executable in
# turn. Each prints its figures and the ratios of the pairs it measures side
# by side.
# Usage: bench/run.sh [extra Google Benchmark flags, e.g. --benchmark_filter=Relay]
# The build folder is build-bench in the source tree unless RVX_BENCH_BUILD_DIR
# names another. RVX_BENCH_ONLY picks the executables by name (a find -name
# pattern, e.g. bench_program; a plain name builds only that one); RVX_BUILD_LOCK names a lock file that the
# configure and build steps hold, for machines where several builds share
# the processors. Some benchmarks need root (a private network namespace).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RVX_BENCH_BUILD_DIR:-$root/build-bench}"

only="${RVX_BENCH_ONLY:-bench_*}"
lock=()
if [[ -n "${RVX_BUILD_LOCK:-}" ]]; then
  lock=(flock "$RVX_BUILD_LOCK")
fi

mkdir -p "$build"
"${lock[@]}" cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DRVX_LIBRARIES_ONLY=OFF -DRVX_BUILD_TESTS=OFF -DRVX_BUILD_BENCH=ON > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
# One executable named exactly (no pattern) is built alone.
target=rvx_benchmarks
if [[ "$only" != *[*?[]* ]]; then
  target="$only"
fi
"${lock[@]}" ninja -C "$build" "$target"

status=0
for program in $(find "$build/bench" -maxdepth 1 -type f -executable -name "$only" | sort); do
  echo "=== $(basename "$program")"
  "$program" "$@" || status=1
done
exit $status
