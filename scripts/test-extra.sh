#!/usr/bin/env bash
# The checks beyond the main suite, called by scripts/test.sh: the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (any
# report fails), the fuzz targets for a bounded time, and one small pass
# of every benchmark so that they cannot rot.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "---- ASan+UBSan build and suite"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_WERROR=ON \
    -DTESSALY_SANITIZE=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
# Leaks are reported as errors; Qt's, QtTest's and fontconfig's process-lifetime
# caches are not ours and are listed in the suppressions file.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

if [ -f scripts/fuzz.sh ]; then
    echo "---- fuzz targets"
    bash scripts/fuzz.sh 20
fi

if [ -f scripts/bench.sh ]; then
    echo "---- benchmark smoke run"
    bash scripts/bench.sh --smoke
fi
