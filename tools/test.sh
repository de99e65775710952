#!/usr/bin/env bash
# Installs what is missing, checks the formatting, then builds and runs the
# whole test suite: the plain build, the sanitizer build, the fuzz
# targets for a bounded time, and the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/format.sh --check

bash tools/build.sh build -DSONBREL_WERROR=ON
(cd build && ctest --output-on-failure -LE 'fuzz' -j 2)

bash tools/build.sh build-asan -DSONBREL_SANITIZE=ON -DSONBREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ctest --output-on-failure -LE 'fuzz|desktop' -j 2)

SONBREL_TARGET=fuzzers bash tools/build.sh build-fuzz -DSONBREL_FUZZ=ON -DSONBREL_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
(cd build-fuzz && ctest --output-on-failure -L fuzz -j 2)

# The Debian package: a build of its own, then lintian, install, use, purge.
bash tools/package.sh
bash tools/package-test.sh
