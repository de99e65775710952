#!/usr/bin/env bash
# tools/build.sh DIR [cmake options...]: configure (once) and build
# (only SONBREL_TARGET when that is set).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" -j "$(nproc)" ${SONBREL_TARGET:+--target "$SONBREL_TARGET"}
