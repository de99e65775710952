#!/usr/bin/env bash
# The format's table file must be exactly what tools/gen_wmastd_tables.py
# makes of Debian's ffmpeg source: fetches that source (only the three files
# the script reads are unpacked) and compares.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d; then
  # Source lines beside the binary ones this machine already uses.
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -E 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      >/etc/apt/sources.list.d/sonbrel-deb-src.sources
  else
    echo "deb-src http://deb.debian.org/debian bookworm main" >/etc/apt/sources.list.d/sonbrel-deb-src.list
  fi
  apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chown _apt "$work" 2>/dev/null || true # apt downloads as its own user
(cd "$work" && apt-get source --download-only -qq ffmpeg >/dev/null)
tar -xJf "$work"/ffmpeg_*.orig.tar.xz -C "$work" --wildcards \
  '*/libavcodec/wmadata.h' '*/libavcodec/aactab.c' '*/libavcodec/wma_freqs.c'
python3 tools/gen_wmastd_tables.py "$work"/ffmpeg-*/ | diff -u - components/wmastd/wmastdtables.cpp
echo "components/wmastd/wmastdtables.cpp matches its script's output"
