#!/usr/bin/env bash
# Configures and builds the program, the trunk library, tools and tests.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$here/build"}
shift || true
cmake -S "$here" -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir"
