#!/usr/bin/env bash
# Builds the trunk library's libFuzzer target with clang (ASan + UBSan) and
# fuzzes the packet factory and the dotted-quad parser for a bounded time.
# Usage: tests/trunk/fuzz/run.sh [SECONDS]   (default 60)
# The build folder is build-fuzz in the source tree unless RVX_FUZZ_BUILD_DIR
# names another. Exits non-zero when the fuzzer finds a fault; the input that
# caused it is kept in the build folder.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
seconds="${1:-60}"
build="${RVX_FUZZ_BUILD_DIR:-$root/build-fuzz}"

mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRVX_LIBRARIES_ONLY=ON -DRVX_FUZZ=ON -DRVX_BUILD_BENCH=OFF > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
ninja -C "$build" trunk_packet_fuzzer

# Seeds: one datagram of each packet type and a few addresses.
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
printf '\x02\x01\x00\x00\x56\x34\x12\x00\x02\x01\x04\xe1\xaa\xbb' > "$corpus/group-message"
printf '\x01\x00\x00\x00\x02\x01\x00\x00\x01\x05\x05\x05\xe1' > "$corpus/subscription"
printf '\x05\x00\x00\x00\x01\x00\x00\x00\x00\x01\x00\x00\xe1\x02\x00\x00\xe1' > "$corpus/subscription-list"
printf '\x04\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00' > "$corpus/settings-changed"
printf '225.4.1.2' > "$corpus/strict-address"
printf '0xE1.04.258' > "$corpus/loose-address"

"$build/tests/trunk/fuzz/trunk_packet_fuzzer" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/" "$corpus"
