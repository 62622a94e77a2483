#!/usr/bin/env bash
# Builds the benchmarks in Release and prints one table of every figure
# beside its target.
#
#   scripts/bench.sh            the full run (about five minutes on 2 cores,
#                               and the night's two runs over 4,000 views)
#   scripts/bench.sh --smoke    every figure once at a small size, for CI:
#                               fails only when a benchmark crashes or hangs
#   scripts/bench.sh [--smoke] FIGURE...   only those (load cli wait run list startup memory stall headless hosts check night)
#
# night, a site's night, runs 4,000 views on 200 hosts (100 on 10 in a
# smoke run); TESSALY_NIGHT_VIEWS and TESSALY_NIGHT_HOSTS change that
# (10,000 views take over ten minutes a run on 2 cores).
#
# The build directory is build-bench (TESSALY_BENCH_BUILD overrides it).
# Each figure runs in a process of its own, so that one figure's memory or
# start-up state cannot colour the next one's.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=()
figures=()
for a in "$@"; do
    case "$a" in
        --smoke) smoke=(--smoke) ;;
        -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "bench: unknown option $a" >&2; exit 2 ;;
        *) figures+=("$a") ;;
    esac
done
[ ${#figures[@]} -gt 0 ] || figures=(load cli wait run list startup memory stall headless hosts check night)

[ -x scripts/deps.sh ] && scripts/deps.sh test

build=${TESSALY_BENCH_BUILD:-build-bench}
gen=()
command -v ninja >/dev/null && [ ! -f "$build/CMakeCache.txt" ] && gen=(-G Ninja)
# The tests are not built here: the benchmarks need only their support library.
cmake -S . -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DTESSALY_WERROR=ON \
    -DTESSALY_BUILD_BENCH=ON -DTESSALY_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tessaly_bench -j2
bin="$build/bench/tessaly_bench"

export QT_QPA_PLATFORM=offscreen
# In memory where it can be, as a login session's /run/user/UID is.
XDG_RUNTIME_DIR=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
out=$(mktemp -d)
trap 'rm -rf "$out" "$XDG_RUNTIME_DIR"' EXIT

status=0
start=$(date +%s)
for f in "${figures[@]}"; do
    printf 'bench: %s ...' "$f" >&2
    t0=$(date +%s%N)
    rc=0
    # The night's two runs take longer than any other figure, and grow with
    # the site: about 1,800 s at 4,000 views, a check alone 840 s at 10,000.
    limit=600
    if [ "$f" = night ] && [ ${#smoke[@]} -eq 0 ]; then
        views=${TESSALY_NIGHT_VIEWS:-4000}
        [[ $views =~ ^[0-9]+$ ]] || views=4000
        limit=$((1800 > views * 3 / 5 ? 1800 : views * 3 / 5))
    fi
    timeout "$limit" "$bin" --figure "$f" "${smoke[@]}" >"$out/$f.out" 2>"$out/$f.err" || rc=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    printf ' %d.%d s\n' $((ms / 1000)) $((ms % 1000 / 100)) >&2
    grep '^ROW|' "$out/$f.out" | cut -d'|' -f2- >>"$out/rows" || true
    grep '^NOTE|' "$out/$f.out" | cut -d'|' -f2- >>"$out/notes" || true
    if [ "$rc" -ne 0 ]; then
        status=1
        what="exit status $rc"
        [ "$rc" -gt 128 ] && what="killed by signal $((rc - 128))"
        [ "$rc" -eq 124 ] && what="hung (timed out after $limit s)"
        echo "$f|FAILED: $what|-|-|NO" >>"$out/rows"
        echo "$f: $what; its error output:" >>"$out/notes"
        tail -n 20 "$out/$f.err" | sed 's/^/    /' >>"$out/notes"
    fi
done
elapsed=$(($(date +%s) - start))

echo
[ ${#smoke[@]} -gt 0 ] && echo "SMOKE RUN: small sizes, one pass each; the figures are not comparable to the targets."
{
    echo "figure|value|target|ratio vs in-run baseline|met?"
    cat "$out/rows" 2>/dev/null || true
} | awk -F'|' '
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NR; nf = NF > nf ? NF : nf }
    END {
        for (r = 1; r <= n; r++) {
            line = ""
            for (i = 1; i <= nf; i++) line = line sprintf("%s%-*s", i > 1 ? " | " : "", w[i], cell[r, i])
            print line
            if (r == 1) { sep = ""; for (i = 1; i <= nf; i++) { d = ""; for (k = 0; k < w[i]; k++) d = d "-"; sep = sep (i > 1 ? "-|-" : "") d } print sep }
        }
    }'
if [ -s "$out/notes" ]; then
    echo
    echo "Notes:"
    sed 's/^/  /' "$out/notes"
fi
echo
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(free -g | awk '/^Mem:/ {print $2}') GiB; figures ran in ${elapsed} s."
exit $status
