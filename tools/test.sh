#!/usr/bin/env bash
# Installs what is missing, checks the formatting and the include graph, then
# builds and runs the whole test suite: the plain build, the sanitizer builds, the fuzz
# targets for a bounded time, and the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/format.sh --check
python3 tools/includegraph.py
bash tools/check-tables.sh

bash tools/build.sh build -DSONBREL_WERROR=ON
(cd build && ctest --output-on-failure -LE 'fuzz' -j 2)

bash tools/build.sh build-asan -DSONBREL_SANITIZE=ON -DSONBREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ctest --output-on-failure -LE 'fuzz|desktop' -j 2)

# The suites that run threads (conversion jobs, read-ahead and write-behind,
# the command line), under the thread sanitizer; only their targets are built.
tsan_tests=(tst_app_conversionrun tst_audiofile tst_app_cli)
for target in "${tsan_tests[@]}"; do
  SONBREL_TARGET=$target bash tools/build.sh build-tsan -DSONBREL_TSAN=ON -DSONBREL_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
done
# The command-line tests start programs: forking with threads running is fine there.
tsan_options="halt_on_error=1 die_after_fork=0 suppressions=$PWD/tools/tsan.supp"
(cd build-tsan && TSAN_OPTIONS=$tsan_options ctest --output-on-failure -j 2 \
  -R '^(tst_app_conversionrun|tst_audiofile|tst_app_cli)$')

SONBREL_TARGET=fuzzers bash tools/build.sh build-fuzz -DSONBREL_FUZZ=ON -DSONBREL_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
(cd build-fuzz && ctest --output-on-failure -L fuzz -j 2)

# The Debian package: a build of its own, then lintian, install, use, purge.
bash tools/package.sh
bash tools/package-test.sh
