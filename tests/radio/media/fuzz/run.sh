#!/usr/bin/env bash
# Builds the voice-privacy libFuzzer target with clang (ASan + UBSan) and
# fuzzes the receive side for a bounded time.
# Usage: tests/radio/media/fuzz/run.sh [SECONDS]   (default 30)
# The build folder is build-fuzz in the source tree unless RVX_FUZZ_BUILD_DIR
# names another. Exits non-zero when the fuzzer finds a fault; the input that
# caused it is kept in the build folder.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../../.." && pwd)"
seconds="${1:-30}"
build="${RVX_FUZZ_BUILD_DIR:-$root/build-fuzz}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRVX_LIBRARIES_ONLY=ON -DRVX_FUZZ=ON -DRVX_BUILD_BENCH=OFF > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
ninja -C "$build" -j2 voice_privacy_fuzzer

# Seeds: one of each thing the fuzzer reads (the first byte chooses it).
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
printf '\x00\x90\x00\x00\x01\x00\x00\x00\x01\x00\xb0\xb0\xb0\x52\x56\x00\x00' > "$corpus/marked-rtp"
printf '\x01\x80\xc9\x00\x01\x00\xb0\xb0\xb0' > "$corpus/report"
printf '\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01' > "$corpus/flipped"
printf '\x03\x80\x00\x00\x01\x00\x00\x00\x01\x00\xb0\xb0\xb0\x55\x55' > "$corpus/clear-rtp"

"$build/tests/radio/media/fuzz/voice_privacy_fuzzer" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/" "$corpus"
