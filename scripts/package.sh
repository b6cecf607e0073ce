#!/usr/bin/env bash
# Builds the Debian packages rvx4400w, halvane-relay and rvx-manager into
# build/packages/ (or the folder given): installs the dependencies, builds the
# programs and their manual pages in a build tree of their own with the
# packages' layout (build/package-tree, prefix /usr), and runs CPack.
# Then: sudo apt install ./build/packages/*.deb
# Usage: scripts/package.sh [OUTPUT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
output=$(realpath -m "${1:-$here/build/packages}")
tree="$here/build/package-tree"

"$here/scripts/install-deps.sh" >/dev/null
# Dated by the last commit, so that the same sources give the same packages.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

# Debian's compiler and linker flags, with every hardening option; without
# debugging information, which the packages strip anyway.
flags() { (cd "$here" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1") | sed 's/\(^\| \)-g\( \|$\)/ /'; }
cmake -S "$here" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_INSTALL_PREFIX=/usr \
  -DRVX_DEBIAN_PACKAGES=ON -DRVX_BUILD_TESTS=OFF -DRVX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$tree" --target RVX4400w-manual-page halvane-relay-manual-page rvx-manager-manual-page

rm -rf "$output"
mkdir -p "$output"
staging=$(mktemp -d "$tree/cpack.XXXXXX")
trap 'rm -rf "$staging"' EXIT
(cd "$tree" && cpack -G DEB -B "$staging" >/dev/null)
mv "$staging"/*.deb "$output/"
echo "Packages in $output:"
ls -l "$output"
