#!/usr/bin/env bash
# tools/build.sh DIR [cmake options...]: configure and build (only
# SONBREL_TARGET when that is set). The options are applied on every call, so a
# folder first configured without -Werror gets it when the tests ask for it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
launcher=()
# Several build folders (and work trees) compile the same sources: share the results.
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
elif (($#)); then
  cmake -S . -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" ${SONBREL_TARGET:+--target "$SONBREL_TARGET"}
