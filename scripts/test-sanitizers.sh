#!/usr/bin/env bash
# Builds the libraries and parsers with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs their tests (label "sanitize").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build-sanitize" \
  -DRVX_LIBRARIES_ONLY=ON -DRVX_SANITIZE=ON -DRVX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
cd "$here/build-sanitize"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j "$(nproc)" -L sanitize --timeout 600
