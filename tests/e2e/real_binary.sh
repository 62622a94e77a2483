#!/usr/bin/env bash
# Starts the real tessaly binary against a simulated ClearCase home and
# against none, offscreen and under Xvfb, and checks what the operator sees
# (window titles, through xdotool) and how the process ends.
#   real_binary.sh TESSALY CCSIM
set -uo pipefail
tessaly=$1
ccsim=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
fails=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

export XDG_RUNTIME_DIR=$work/run
export TESSALY_LOCK_DIR=$work/run/locks
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$ccsim" init "$work/sim home" --demo >/dev/null || { echo "cannot make a simulated home"; exit 1; }

# Waits up to $2 seconds for the child $1 to end; its status goes to $st.
wait_end() {
    local pid=$1 t=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.1
        t=$((t + 1))
        [ $t -ge $(($2 * 10)) ] && { st=timeout; return; }
    done
    wait "$pid"
    st=$?
}
lock_up() { ls "$XDG_RUNTIME_DIR"/tessaly-*.lock >/dev/null 2>&1; }

# ---- offscreen: start, run, end cleanly on a termination request
for home in "$work/sim home" "$work/none"; do
    CLEARCASEHOME=$home QT_QPA_PLATFORM=offscreen "$tessaly" &
    pid=$!
    for _ in $(seq 50); do lock_up && break; sleep 0.1; done
    sleep 0.5
    if kill -0 $pid 2>/dev/null; then pass "offscreen ($home): running"; else fail "offscreen ($home): ended early"; fi
    kill -TERM $pid
    wait_end $pid 10
    [ "$st" = 0 ] && pass "offscreen ($home): ended with 0" || fail "offscreen ($home): ended with $st"
done
lock_up && fail "a lock file was left behind" || pass "no lock left behind"

# ---- no display: one line saying so, status 2, no core dump
for d in "" ":987"; do
    if [ -z "$d" ]; then
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM CLEARCASEHOME="$work/sim home" \
            timeout 20 "$tessaly" >"$work/nodisp.out" 2>"$work/nodisp.err"
    else
        env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$d" CLEARCASEHOME="$work/sim home" \
            timeout 20 "$tessaly" >"$work/nodisp.out" 2>"$work/nodisp.err"
    fi
    st=$?
    what=${d:-unset}
    [ "$st" = 2 ] && pass "DISPLAY $what: ended with 2" || fail "DISPLAY $what: ended with $st"
    if grep -q "no display could be opened" "$work/nodisp.err" && ! grep -q "Reinstalling" "$work/nodisp.err"; then
        pass "DISPLAY $what: says no display could be opened"
    else
        fail "DISPLAY $what: said: $(head -c 300 "$work/nodisp.err")"
    fi
done

# ---- the demo without a display: says what it needs and ends, builds nothing
demo=$(dirname "$0")/../../scripts/demo.sh
env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 bash "$demo" >"$work/demo.out" 2>"$work/demo.err"
st=$?
if [ "$st" = 2 ] && grep -q "needs a display" "$work/demo.err"; then
    pass "demo without a display: ended with 2 and said why"
else
    fail "demo without a display: ended with $st: $(head -c 300 "$work/demo.err")"
fi

# ---- under Xvfb: the windows a person would see
if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
    echo "xvfb-run or xdotool missing: the on-screen half is skipped"
    [ $fails -eq 0 ] && exit 77 || exit 1
fi

cat > "$work/screen.sh" <<'INNER'
#!/usr/bin/env bash
set -uo pipefail
tessaly=$1; home=$2; none=$3; ccsim=$4
fails=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
find_win() { timeout "${2:-10}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1; }
wait_end() {
    local pid=$1 t=0
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; t=$((t + 1)); [ $t -ge 100 ] && { st=timeout; return; }; done
    wait "$pid"; st=$?
}
press_return() { xdotool windowfocus --sync "$1" 2>/dev/null; xdotool key --clearmodifiers Return; }

# Without ClearCase: only the box, then the process is gone.
CLEARCASEHOME=$none "$tessaly" & pid=$!
# The title the window system shows, exactly: nothing appended.
title_is() {
    local name
    name=$(xdotool getwindowname "$1" 2>/dev/null)
    [ "$name" = "$2" ] && pass "title exactly '$2'" || fail "title '$name', not '$2'"
}
w=$(find_win '^ClearCase Not installed!')
[ -n "$w" ] && pass "box 'ClearCase Not installed!' shown" || fail "no 'ClearCase Not installed!' box"
[ -n "$w" ] && title_is "$w" "ClearCase Not installed!"
[ -z "$(xdotool search --onlyvisible --name '^Tessaly \(TSY\)' 2>/dev/null)" ] && pass "no main window" || fail "a main window appeared"
[ -n "$w" ] && press_return "$w"
wait_end $pid
[ "$st" = 0 ] && pass "ended with 0 after OK" || fail "ended with $st after OK"

# With the simulated home: the main window; a second copy is refused.
CLEARCASEHOME=$home "$tessaly" & first=$!
m=$(find_win '^Tessaly \(TSY\) - www\.orvane\.example' 15)
[ -n "$m" ] && pass "main window shown" || fail "no main window"
[ -n "$m" ] && title_is "$m" "Tessaly (TSY) - www.orvane.example"
CLEARCASEHOME=$home "$tessaly" & second=$!
b=$(find_win '^Tessaly$')
[ -n "$b" ] && pass "second copy shows its box" || fail "second copy showed no box"
[ "$(xdotool search --onlyvisible --name '^Tessaly \(TSY\)' 2>/dev/null | wc -l)" = 1 ] && pass "one main window" || fail "not exactly one main window"
[ -n "$b" ] && press_return "$b"
wait_end $second
[ "$st" = 0 ] && pass "second copy ended with 0" || fail "second copy ended with $st"
kill -0 $first 2>/dev/null && pass "first copy still running" || fail "first copy ended"
kill -TERM $first
wait_end $first
[ "$st" = 0 ] && pass "first copy ended with 0" || fail "first copy ended with $st"

# Exit clicked while a view's fix_prot works (Normal mode: in an xterm):
# Tessaly's process ends at once, the view's repair unit finishes it with
# its endview, and no other checked view is started. The layout is fixed,
# so the controls are clicked where they stand.
"$ccsim" fault "$home" fixprot_sleep_ms=2000
"$ccsim" journal "$home" --clear >/dev/null
CLEARCASEHOME=$home TESSALY_SSH="'$home/var/ccsim/bin/ssh'" TESSALY_SUDO="'$home/var/ccsim/bin/sudo' -n" "$tessaly" & pid=$!
m=$(find_win '^Tessaly \(TSY\) - www\.orvane\.example' 15)
click() { xdotool mousemove --window "$m" "$1" "$2" click 1; sleep "$3"; }
if [ -n "$m" ]; then
    click 72 88 3    # Load Views
    click 64 352 1   # Select All
    click 584 240 0  # Execute
    for _ in $(seq 100); do grep -q ' fix_prot ' <<<"$("$ccsim" journal "$home")" && break; sleep 0.1; done
    t0=$(date +%s%N)
    click 368 448 0  # Exit
    for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.02; done
    ms=$((($(date +%s%N) - t0) / 1000000))
    kill -0 $pid 2>/dev/null && fail "still running ${ms} ms after Exit mid-run" || pass "ended ${ms} ms after Exit mid-run"
    for _ in $(seq 100); do grep -q '"endview"' <<<"$("$ccsim" journal "$home")" && break; sleep 0.1; done
    j=$("$ccsim" journal "$home")
    [ "$(grep -c ' fix_prot ' <<<"$j")" = 1 ] && pass "one fix_prot started" || fail "fix_prots: $(grep -c ' fix_prot ' <<<"$j")"
    [ "$(grep -c '"endview"' <<<"$j")" = 1 ] && pass "its endview ran after Tessaly had gone" || fail "endviews: $(grep -c '"endview"' <<<"$j")"
    [ "$(grep ' fix_prot \|"endview"' <<<"$j" | tail -1 | grep -c endview)" = 1 ] && pass "endview after fix_prot" || fail "endview before fix_prot"
fi
"$ccsim" clear-faults "$home"
exit $fails
INNER
chmod +x "$work/screen.sh"
# A real X display this time, whatever platform the suite runs the rest on.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$work/screen.sh" "$tessaly" "$work/sim home" "$work/none" "$ccsim"
st=$?
[ $st -eq 0 ] || fails=$((fails + st))
[ $fails -eq 0 ] && { echo "all real-binary checks passed"; exit 0; }
echo "$fails real-binary checks failed"
exit 1
