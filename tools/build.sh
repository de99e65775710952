#!/usr/bin/env bash
# tools/build.sh DIR [cmake options...]: configure (once) and build
# (only SONBREL_TARGET when that is set).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
launcher=()
# Several build folders (and work trees) compile the same sources: share the results.
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
fi
cmake --build "$dir" -j "$(nproc)" ${SONBREL_TARGET:+--target "$SONBREL_TARGET"}
