#!/usr/bin/env bash
# Installs the dependencies, builds the radio and starts it.
#
#   scripts/run-radio.sh          run in a private network namespace, so all
#                                 of the radio's traffic stays on this machine,
#                                 with its key ring and local files in
#                                 build/radio-home/ (your own are not touched)
#   scripts/run-radio.sh --lan    run on the machine's real network with your
#                                 own key ring and data folder
#
# Without a display the radio runs on a virtual X display; the script says
# how to look at its window.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
network=isolated
for argument in "$@"; do
  case "$argument" in
    --lan) network=lan ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "Unknown option: $argument (try --help)" >&2; exit 2 ;;
  esac
done

"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" >/dev/null
radio="$here/build/bin/RVX4400w"

# Runs the radio on the display there is, or on a virtual one.
cat > "$here/build/run-radio-inner.sh" <<INNER
#!/usr/bin/env bash
set -u
if [ "\$1" = isolated ]; then
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
  home="$here/build/radio-home"
  mkdir -p "\$home/gnupg" "\$home/data"
  chmod 700 "\$home/gnupg"
  export GNUPGHOME="\$home/gnupg" appdata="\$home/data"
  trap 'gpgconf --homedir "\$GNUPGHOME" --kill all 2>/dev/null' EXIT
fi
if [ -z "\${DISPLAY:-}" ]; then
  display=:77
  Xvfb \$display -screen 0 1280x480x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=\$!
  trap 'kill \$xvfb_pid 2>/dev/null; [ -n "\${GNUPGHOME:-}" ] && gpgconf --homedir "\$GNUPGHOME" --kill all 2>/dev/null' EXIT
  sleep 1
  export DISPLAY=\$display
  echo "No display found: the radio runs on the virtual display \$display."
  echo "To see its window, run from another terminal:"
  echo "  xwd -root -display \$display | convert xwd:- radio.png   (packages x11-apps, imagemagick)"
  echo "or start this script from a desktop session. Close the radio with Ctrl+\\\\ or 'kill <pid>'."
fi
"$radio"
INNER
chmod +x "$here/build/run-radio-inner.sh"

if [ "$network" = isolated ]; then
  if [ "$(id -u)" -ne 0 ]; then
    exec sudo unshare -n "$here/build/run-radio-inner.sh" isolated
  fi
  echo "Running in a private network namespace (use --lan for the real network)."
  exec unshare -n "$here/build/run-radio-inner.sh" isolated
fi
exec "$here/build/run-radio-inner.sh" lan
