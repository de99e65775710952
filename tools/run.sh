#!/usr/bin/env bash
# Installs what is missing, builds and starts Sonbrel.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh build
exec build/bin/sonbrel "$@"
