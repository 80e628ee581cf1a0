#!/usr/bin/env bash
# Starts the tool under a virtual X server at 96 dpi and saves a picture of the screen
# (docs/window.png unless a path is given) 3 seconds after the start, or VX538_SHOT_DELAY seconds.
# Installs Xvfb, xwd and netpbm when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/window.png}

need=()
for p in xvfb x11-apps netpbm; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi

binary=${VX538_BINARY:-build/vx538-config}
display=:97
Xvfb "$display" -screen 0 1280x900x24 -dpi 96 -nolisten tcp &
xvfb=$!
trap 'kill "$app" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$binary" &
app=$!
sleep "${VX538_SHOT_DELAY:-3}"
DISPLAY=$display xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > "$out"
echo "saved $out"
