#!/usr/bin/env bash
# Regenerates the front panel's pictures in radio/QtProject/resources and
# the program's desktop icons in radio/desktop/icons from the drawings in
# make_artwork.py, and copies the display font.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
target="$root/radio/QtProject/resources"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/make_artwork.py" "$work"
g++ -std=c++17 -fPIC -O1 -o "$work/render_artwork" "$here/render_artwork.cpp" \
  $(pkg-config --cflags --libs Qt6Svg Qt6Gui Qt6Core)
mkdir -p "$target/images/resources" "$target/images/UI Pictures" "$target/fonts"
cp "$work/resources/"*.svg "$target/images/resources/"
QT_QPA_PLATFORM=offscreen "$work/render_artwork" "$work/svg" "$target/images/resources" \
  "$target/images/UI Pictures/48.ico"
cp /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf "$target/fonts/helvetica.ttf"
mkdir -p "$target/drawings"
cp "$work/svg/"*.svg "$target/drawings/"
icons="$root/radio/desktop/icons/hicolor"
rm -rf "$icons"
mkdir -p "$icons/scalable/apps"
cp "$work/desktop/rvx4400w.svg" "$icons/scalable/apps/rvx4400w.svg"
QT_QPA_PLATFORM=offscreen "$work/render_artwork" --hicolor "$work/desktop/rvx4400w.svg" "$icons" rvx4400w \
  16 22 24 32 48 64 128 256
echo "Artwork written to $target and $icons"
