#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs the
# whole test suite: the unit, widget and end-to-end tests (offscreen), the
# Windows layer under Wine and the syntax of the Windows sources that use
# Qt, the suite again under ASan+UBSan, the fuzz targets for a bounded
# time, a one-pass smoke run of the benchmarks, and the format check.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test

export QT_QPA_PLATFORM=offscreen
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
jobs=$(nproc)

step() { printf '\n==== %s\n' "$*"; }

step "format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

step "licence line check"
bash scripts/spdx.sh --check

step "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_WERROR=ON >/dev/null
cmake --build build -j"$jobs"

if [ -x scripts/test-windows.sh ] || [ -f scripts/test-windows.sh ]; then
    step "Windows layer under Wine"
    bash scripts/test-windows.sh
    step "Windows sources that use Qt, for syntax"
    bash scripts/check-windows-qt.sh
fi

if [ -f scripts/test-extra.sh ]; then
    step "sanitizers, fuzzing, benchmark smoke"
    bash scripts/test-extra.sh
fi

step "test suite"
ctest --test-dir build --output-on-failure -j"$jobs"
