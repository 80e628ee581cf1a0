#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the tool need.
# Runs as root, or through sudo; does nothing when everything is already there.
# --fuzz adds what scripts/fuzz needs: clang with its libFuzzer and sanitizer runtimes.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6widgets6
  libjpeg-dev
  libgtest-dev
  libmodbus-dev
  libcli11-dev nlohmann-json3-dev help2man
  fonts-dejavu-core fonts-liberation2 fonts-wqy-microhei
  qt6-serialport-dev
  desktop-file-utils appstream
  libtelnet-dev ser2net python3-serial socat
  libpcap0.8-dev mbpoll tshark
  python3-pymodbus python3-serial
  libqcustomplot-dev
  libmosquitto-dev mosquitto mosquitto-clients openssl systemd
  libpaho-mqtt-dev
  python3-pymodbus python3-serial
  poppler-utils
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
