#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the radio need.
# Shared by the README's commands and by CI; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libxcb1-dev
  libpugixml-dev liblzo2-dev
  libortp-dev libmediastreamer-dev libbctoolbox-dev
  gpg gpg-agent libcpp-httplib-dev
  libsqlite3-dev libsodium-dev libcli11-dev libsrtp2-dev
  iproute2 util-linux procps
  xvfb xauth fonts-liberation xdotool locales
  pulseaudio pulseaudio-utils
  chromium chromium-driver python3-selenium
  dpkg-dev help2man lintian desktop-file-utils appstream
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Tests check that texts for peers and files keep a '.' under a locale whose
# decimal separator is a comma.
generate_test_locale() {
  if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    echo "Generating the de_DE.UTF-8 locale for the tests"
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "All build and test dependencies are installed."
  generate_test_locale
  exit 0
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
generate_test_locale
