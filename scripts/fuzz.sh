#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang with ASan+UBSan) in build-fuzz
# and runs each for SECONDS_PER_TARGET seconds (default 60), starting from
# a scratch copy of its committed corpus so that runs never grow it.
# Prints one line per target and exits non-zero when any target crashed,
# broke an invariant or drew a sanitizer report; the input that did it is
# kept under build-fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS_PER_TARGET]   (a whole number of seconds, default 60)" >&2
    exit 2
fi

build=build-fuzz
targets=(fuzz_lsview_long fuzz_command_line fuzz_reg_value)

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S fuzz -B "$build" "${generator[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

# A smaller quarantine and shorter allocation stacks make the many small
# Qt allocations cheaper; every check stays on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
findings="$build/findings"
failed=0

for t in "${targets[@]}"; do
    corpus="$scratch/$t/corpus"
    mkdir -p "$corpus" "$scratch/$t/out"
    cp fuzz/corpus/"$t"/* "$corpus"/
    log="$scratch/$t/log"
    rc=0
    "$build/$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$scratch/$t/out/" "$corpus" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ] && ! grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error:|invariant violated' "$log"; then
        echo "$t: ${runs:-0} executions, no crash"
        continue
    fi
    failed=1
    rm -rf "${findings:?}/$t"
    mkdir -p "$findings/$t"
    cp "$log" "$findings/$t/log"
    cp "$scratch/$t/out/"* "$findings/$t/" 2>/dev/null || true
    echo "$t: FAILED after ${runs:-?} executions (exit status $rc); input and log in $findings/$t/"
    grep -E 'ERROR:|runtime error:|invariant violated|SUMMARY:' "$log" | head -n 5 | sed 's/^/    /'
done

exit "$failed"
