#!/usr/bin/env bash
# Installs every Debian package Marlune needs to build, play and be tested.
# Runs apt-get update once and installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev
  libsdl2-dev libsdl2-image-dev libsdl2-ttf-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri
  librtaudio-dev libpulse-dev libdbus-1-dev libstk-dev libboost-dev
  libgtest-dev libbenchmark-dev
  clang-22 libclang-rt-22-dev
  fonts-dejavu-core python3
  desktop-file-utils appstream lintian
  xvfb xdotool x11-utils imagemagick libxtst-dev gdb
  pulseaudio pulseaudio-utils sox
  jackd1 libjack-dev
  pipewire pipewire-pulse wireplumber dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
