#!/usr/bin/env bash
# The files a server's administrator lives with, taken from the source tree
# as the package ships them:
#   - the nightly service and timer pass systemd-analyze verify;
#   - the service's ExecStart line, expanded as systemd expands it with the
#     shipped nightly.conf, runs against a simulated ClearCase and appends
#     its JSON where StandardOutput says, night after night;
#   - the bash completion sets "complete -p tessaly" and offers every long
#     option that --help lists.
#   server_files_test.sh PACKAGING_DIR TESSALY CCSIM
set -uo pipefail
pkg=$1
tessaly=$(realpath "$2")
ccsim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() {
    echo "FAIL: $*"
    fails=$((fails + 1))
}

# ---- systemd-analyze verify, with the unit's program the one just built
mkdir "$work/units"
for u in service timer; do
    sed "s|/usr/bin/tessaly|$tessaly|" "$pkg/tessaly-nightly.$u" >"$work/units/tessaly-nightly.$u"
done
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "note: systemd-analyze is not installed; the units were not verified"
else
    said=$(systemd-analyze verify --man=no "$work/units/tessaly-nightly.service" \
        "$work/units/tessaly-nightly.timer" 2>&1)
    st=$?
    if [ $st != 0 ] && grep -qiE 'failed to (initialize|connect|set up)|not booted' <<<"$said"; then
        echo "note: systemd-analyze cannot run here, the units were not verified: $said"
    elif [ $st != 0 ] || [ -n "$said" ]; then
        fail "systemd-analyze verify (status $st): $said"
    else
        echo "ok: systemd-analyze verify accepts the service and the timer"
    fi
fi
grep -q '^WantedBy=timers.target' "$pkg/tessaly-nightly.timer" || fail "the timer is not wanted by timers.target"

# ---- the service's ExecStart on a simulated ClearCase
home="$work/cc home"
"$ccsim" init "$home" --views 6 --hosts 2 >/dev/null || { echo "cannot make a simulated home"; exit 1; }
tag=$(CLEARCASEHOME="$home" "$tessaly" --list | head -1 | cut -d: -f1)
"$ccsim" owner "$home" "$tag" db nobody:nogroup >/dev/null || fail "ccsim owner"
state=$work/state
mkdir -p "$state" "$work/run"
chmod 700 "$work/run"

# The variables as systemd sets them: Environment= first, then the file.
declare -A var
for assignment in $(sed -n 's/^Environment=//p' "$pkg/tessaly-nightly.service"); do
    var[${assignment%%=*}]=${assignment#*=}
done
while IFS= read -r line; do
    case $line in '#'* | '') continue ;; esac
    var[${line%%=*}]=${line#*=}
done <"$pkg/nightly.conf"

exec_line=$(sed -n 's/^ExecStart=//p' "$pkg/tessaly-nightly.service")
case $exec_line in *\'* | *\"* | *\\*) fail "ExecStart quotes; this test splits at blanks only" ;; esac
words=()
for w in $exec_line; do
    if [[ $w =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
        words+=("${var[${BASH_REMATCH[1]}]-}") # one word
    elif [[ $w =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
        # shellcheck disable=SC2206
        words+=(${var[${BASH_REMATCH[1]}]-}) # split at blanks
    else
        w=${w/#\/usr\/bin\/tessaly/$tessaly}
        words+=("${w/#\/var\/lib\/tessaly/$state}")
    fi
done
out=$(sed -n 's/^StandardOutput=append://p' "$pkg/tessaly-nightly.service")
[ -n "$out" ] || fail "StandardOutput does not append to a file"
out=${out/#\/var\/lib\/tessaly/$state}
echo "runs: ${words[*]} >> $out"

for night in 1 2; do
    env -u DISPLAY -u WAYLAND_DISPLAY CLEARCASEHOME="$home" XDG_RUNTIME_DIR="$work/run" \
        TESSALY_LOCK_DIR="$work/locks" TESSALY_SSH="'$home/var/ccsim/bin/ssh'" \
        TESSALY_SUDO="'$home/var/ccsim/bin/sudo'" "${words[@]}" >>"$out" 2>"$work/err"
    st=$?
    [ $st = 0 ] || fail "night $night: exit status $st: $(cat "$work/err")"
    sleep 0.01
done
[ "$(grep -c '"summary":' "$out")" = 2 ] || fail "two nights give two summaries: $(cat "$out")"
grep -v '^{' "$out" && fail "a line of the JSON file is not an object"
[ "$(grep -c "\"outcome\":\"repaired\",.*\"tag\":\"$tag\"" "$out")" = 1 ] ||
    fail "the first night repairs $tag, the second finds it sound: $(cat "$out")"
grep -q '"mode":"repair_needed"' "$out" || fail "the summary lacks the options"
starts=$(grep -o '"started":"[^"]*"' "$out" | sort -u | wc -l)
[ "$starts" = 2 ] || fail "the nights' summaries do not tell their start apart"
[ -f "$state/nightly-failed" ] && [ ! -s "$state/nightly-failed" ] ||
    fail "the tags to run again are not written, or not empty"

# ---- bash completion
completion=$pkg/tessaly.bash-completion
said=$(bash -c 'source "$1" && complete -p tessaly' _ "$completion" 2>&1) ||
    fail "complete -p tessaly after sourcing the completion: $said"
offered() {
    bash -c 'source "$1"; COMP_WORDS=(tessaly "$2"); COMP_CWORD=1; _tessaly; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion" "$1"
}
[ "$(offered --ch)" = --check ] || fail "--ch completes to '$(offered --ch)', not --check"
all=$(offered --)
for opt in $("$tessaly" --help | grep -oE '^ +(-[a-zA-Z?], )?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
    # A here-string, not "echo | grep -q": under pipefail, grep leaving at
    # the first match can kill a line-buffered echo with SIGPIPE.
    grep -qx -- "$opt" <<<"$all" || fail "the completion does not offer $opt"
done

[ $fails = 0 ] && echo "ok: units, the nightly run and the completion"
exit $((fails > 0))
