#!/usr/bin/env bash
# Installs what Sonbrel needs to build and test on Debian 12; does nothing
# when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format ccache
  # libFuzzer and the sanitizer runtimes are only recommended by clang
  libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libswscale-dev
  libtag1-dev libogg-dev libvorbis-dev
  ffmpeg sox vorbis-tools flac opus-tools wavpack
  gstreamer1.0-tools gstreamer1.0-libav gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  xvfb xauth xdotool at-spi2-core python3-pyatspi dbus-x11
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
