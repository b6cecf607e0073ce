#!/usr/bin/env bash
# The Debian packages made by scripts/package.sh, checked as a user gets
# them: lintian finds no errors; apt could install them here (simulated
# only); unpacked into a scratch root with dpkg -x (never onto this machine)
# they hold the desktop entry, icons, AppStream metadata, manual pages,
# service units and options files; the installed programs run from their
# installed paths: each tells its version, the relay runs with the
# configuration its service gets and answers on its control socket, and
# the radio starts on the offscreen platform, imports the server key it was
# installed with and shows its home screen. The relay and the radio run in a network namespace
# of this test.
# Usage: installed_packages_test.sh [PACKAGE_DIR]   (exit 77: no packages)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
packages=$(realpath -m "${1:-$here/build/packages}")
version=$(sed -n 's/^project(RVX4400w VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
shopt -s nullglob
debs=("$packages"/*.deb)
if [ "${#debs[@]}" -eq 0 ]; then
  echo "No packages in $packages: run scripts/package.sh first"
  exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

scratch=$(mktemp -d /tmp/rvx-packages.XXXXXX)
cleanup() {
  [ -d "$scratch/g" ] && gpgconf --homedir "$scratch/g" --kill all 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "== The packages =="
for name in rvx4400w halvane-relay rvx-manager; do
  deb=$(ls "$packages/${name}_${version}_"*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { fail "no package $name $version"; continue; }
  dpkg-deb --field "$deb" Package Version Depends | sed 's/^/  /'
done

echo "== lintian =="
if lintian --fail-on error --suppress-tags-from-file /dev/null "${debs[@]}" >"$scratch/lintian.txt" 2>&1; then
  pass "lintian: no errors ($(grep -c '^W:' "$scratch/lintian.txt" || true) warnings)"
else
  fail "lintian reports errors"
fi
sed 's/^/  /' "$scratch/lintian.txt"

echo "== apt could install them (simulation) =="
if apt-get install --simulate -o Debug::NoLocking=true "${debs[@]}" >"$scratch/apt.txt" 2>&1; then
  pass "their dependencies are installable"
else
  fail "apt cannot install them"; sed 's/^/  /' "$scratch/apt.txt"
fi

echo "== Unpacked into a scratch root =="
root="$scratch/root"
mkdir -p "$root"
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
libdir=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for file in usr/bin/RVX4400w "usr/lib/$libdir/rvx4400w/libhalvane2.so.2" \
    usr/share/rvx4400w/server-client-public-key.gpg usr/share/applications/rvx4400w.desktop \
    usr/share/icons/hicolor/48x48/apps/rvx4400w.png usr/share/icons/hicolor/scalable/apps/rvx4400w.svg \
    usr/share/man/man1/RVX4400w.1.gz usr/share/doc/rvx4400w/copyright \
    usr/bin/halvane-relay lib/systemd/system/halvane-relay.service etc/halvane-relay/halvane-relay.conf \
    usr/share/man/man1/halvane-relay.1.gz \
    usr/bin/rvx-manager lib/systemd/system/rvx-manager.service etc/default/rvx-manager \
    usr/share/man/man1/rvx-manager.1.gz; do
  [ -e "$root/$file" ] || fail "missing: /$file"
done
desktop-file-validate "$root/usr/share/applications/rvx4400w.desktop" && pass "desktop entry valid" ||
  fail "desktop entry"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ "${#metainfo[@]}" -eq 1 ] && appstreamcli validate --no-net "${metainfo[0]}" >"$scratch/appstream.txt" 2>&1; then
  pass "AppStream metadata valid"
else
  fail "AppStream metadata"; sed 's/^/  /' "$scratch/appstream.txt" 2>/dev/null || true
fi
grep -q '<screenshot type="default">' "${metainfo[0]}" || fail "no screenshot in the AppStream metadata"
grep -q "^EnvironmentFile=-/etc/default/rvx-manager$" "$root/lib/systemd/system/rvx-manager.service" ||
  fail "rvx-manager.service does not read /etc/default/rvx-manager"
grep -q "^ExecStart=/usr/bin/halvane-relay --config /etc/halvane-relay/halvane-relay.conf$" \
  "$root/lib/systemd/system/halvane-relay.service" ||
  fail "halvane-relay.service does not read /etc/halvane-relay/halvane-relay.conf"
grep -q -- '^RVX_MANAGER_OPTIONS=".*--relay-control /run/halvane-relay/control-3301' "$root/etc/default/rvx-manager" ||
  fail "rvx-manager's options do not name the packaged relay's control socket"
grep -q '^StateDirectory=rvx-manager$' "$root/lib/systemd/system/rvx-manager.service" ||
  fail "rvx-manager.service keeps its data elsewhere than /var/lib/rvx-manager"

echo "== The installed programs =="
for program in RVX4400w halvane-relay rvx-manager; do
  said=$("$root/usr/bin/$program" --version 2>&1) || true
  [ "$said" = "$program $version" ] && pass "$program --version: $said" || fail "$program --version said: $said"
done
man -l "$root/usr/share/man/man1/RVX4400w.1.gz" 2>/dev/null | grep -q 'push to talk' ||
  fail "the radio's manual page lacks its keyboard section"

# The relay as its service runs it, on its installed configuration file
# (with the control socket in the scratch folder and the root group, since
# the package's group is not made here), and the radio offscreen, both in a
# network namespace of their own.
cat >"$scratch/inside.sh" <<'INSIDE'
set -u
root=$1 scratch=$2
ip link set lo up
ip route add 224.0.0.0/4 dev lo
control="--control-socket $scratch/control"
"$root/usr/bin/halvane-relay" --config "$root/etc/halvane-relay/halvane-relay.conf" $control \
  --control-group "$(id -gn)" >"$scratch/relay.txt" 2>&1 &
relay_pid=$!
for _ in $(seq 50); do
  "$root/usr/bin/halvane-relay" $control counters >"$scratch/counters.txt" 2>&1 && break
  sleep 0.1
done
"$root/usr/bin/halvane-relay" $control stop >/dev/null 2>&1
wait "$relay_pid"
echo "relay exit $?" >>"$scratch/relay.txt"

mkdir -p "$scratch/data" "$scratch/g" "$scratch/run"
chmod 700 "$scratch/g" "$scratch/run"
env QT_QPA_PLATFORM=offscreen appdata="$scratch/data" GNUPGHOME="$scratch/g" XDG_RUNTIME_DIR="$scratch/run" \
  RVX4400_WEBMANAGEMENT_URL=http://127.0.0.1:9 RVX4400_SCREENSHOT="$scratch/home.png" \
  "$root/usr/bin/RVX4400w" >"$scratch/radio.txt" 2>&1 &
radio_pid=$!
for _ in $(seq 600); do
  grep -q 'Screenshot saved to' "$scratch/radio.txt" && break
  kill -0 "$radio_pid" 2>/dev/null || break
  sleep 0.1
done
kill "$radio_pid" 2>/dev/null
wait "$radio_pid"
echo "radio exit $?" >>"$scratch/radio.txt"
INSIDE
# Bounded in time; the namespace's processes end with it at the latest.
timeout -k 5 120 unshare -n bash "$scratch/inside.sh" "$root" "$scratch" || true
if grep -q '^received ' "$scratch/counters.txt" 2>/dev/null && grep -q '^relay exit 0$' "$scratch/relay.txt"; then
  pass "the relay runs on its installed configuration and answers on its control socket"
else
  fail "the installed relay"; sed 's/^/  /' "$scratch/relay.txt" "$scratch/counters.txt" 2>/dev/null
fi
if grep -q 'Screenshot saved to' "$scratch/radio.txt" && [ -s "$scratch/home.png" ]; then
  pass "the installed radio starts offscreen and shows its home screen"
else
  fail "the installed radio did not come up"; tail -20 "$scratch/radio.txt" | sed 's/^/  /'
fi
server_key=$(gpg --show-keys --with-colons "$root/usr/share/rvx4400w/server-client-public-key.gpg" 2>/dev/null |
  awk -F: '$1 == "fpr" { print $10; exit }')
if [ -n "$server_key" ] && gpg --homedir "$scratch/g" --list-keys "$server_key" >/dev/null 2>&1; then
  pass "the installed radio imported the server key installed with it"
else
  fail "the installed radio does not find the server key it was installed with"
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "All package checks passed"
