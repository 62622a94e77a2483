#!/bin/sh
# Builds the Debian package, installs it into this machine with dpkg, starts
# the installed /usr/bin/tessaly offscreen on a simulated ClearCase, ends it
# with SIGTERM (which closes its window as the close box does) and expects
# exit status 0, renders the installed man page, and removes the package.
# Needs root and dpkg; otherwise it is skipped (exit 77).
#   deb_install_test.sh BUILD_DIR CCSIM_TOOL VERSION
set -u
build=$1
ccsim=$2
version=$3

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" = 0 ] || skip "installing a package needs root"
command -v dpkg >/dev/null 2>&1 || skip "dpkg is not installed"
command -v cpack >/dev/null 2>&1 || skip "cpack is not installed"
if dpkg-query -W -f='${Status}' tessaly 2>/dev/null | grep -q 'ok installed'; then
    skip "a tessaly package is installed already; not replacing it"
fi

work=$(mktemp -d)
pid=
installed=0
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    [ $installed = 1 ] && dpkg -r tessaly >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# ---- the package
arch=$(dpkg --print-architecture)
deb=$work/tessaly_${version}_${arch}.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
[ -f "$deb" ] || { ls "$work"; fail "cpack made no $deb"; }

info=$(dpkg-deb -I "$deb") || fail "dpkg-deb cannot read the package"
echo "$info"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6; do
    echo "$depends" | grep -qw "$lib" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = tessaly ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
dpkg-deb -f "$deb" Maintainer | grep -q '@orvane\.example>' || fail "maintainer"
case $(dpkg-deb -f "$deb" Section) in utils | devel) ;; *) fail "section" ;; esac

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for f in ./usr/bin/tessaly ./usr/lib/tessaly/tessaly-window ./usr/lib/tessaly/tessaly-wrap \
    ./usr/share/applications/tessaly.desktop \
    ./usr/share/man/man1/tessaly.1.gz ./usr/lib/tmpfiles.d/tessaly.conf; do
    echo "$contents" | grep -qx -- "$f" || fail "package lacks $f"
done
for size in 16 32 48 64 128 256; do
    f=./usr/share/icons/hicolor/${size}x${size}/apps/tessaly.png
    echo "$contents" | grep -qx -- "$f" || fail "package lacks $f"
done
# The simulator's stand-ins must never land on a real machine's PATH.
for f in cleartool fix_prot ccsim; do
    echo "$contents" | grep -q "/$f\$" && fail "package holds the simulator's $f"
done

# ---- install
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
installed=1
[ -x /usr/bin/tessaly ] || fail "/usr/bin/tessaly was not installed"

# ---- the lock directory the installed tmpfiles.d entry makes at boot:
# root's, mode 1777. Made under a root of its own, not in this machine's /run.
entry=/usr/lib/tmpfiles.d/tessaly.conf
[ -f "$entry" ] || fail "$entry was not installed"
if command -v systemd-tmpfiles >/dev/null 2>&1; then
    mkdir -p "$work/root/run/lock"
    systemd-tmpfiles --root="$work/root" --create "$entry" ||
        fail "systemd-tmpfiles --create $entry failed"
    made=$(stat -c '%U %a %F' "$work/root/run/lock/tessaly") || fail "no /run/lock/tessaly made"
    [ "$made" = "root 1777 directory" ] || fail "/run/lock/tessaly made as: $made"
    echo "systemd-tmpfiles --create $entry makes /run/lock/tessaly: $made"
else
    grep -Eq '^d[[:space:]]+/run/lock/tessaly[[:space:]]+1777[[:space:]]+root[[:space:]]+root' \
        "$entry" || fail "$entry does not make /run/lock/tessaly root's with mode 1777"
    echo "no systemd-tmpfiles: $entry checked as text"
fi

# ---- the man page, as man shows it
if command -v man >/dev/null 2>&1; then
    MANWIDTH=80 man -l /usr/share/man/man1/tessaly.1.gz >"$work/man.txt" 2>"$work/man.err" ||
        fail "man -l failed: $(cat "$work/man.err")"
    [ -s "$work/man.err" ] && fail "man -l complains: $(cat "$work/man.err")"
    grep -q CLEARCASEHOME "$work/man.txt" || fail "rendered man page lacks CLEARCASEHOME"
    echo "man -l renders $(wc -l <"$work/man.txt") lines"
fi

# ---- run the installed program on a simulated ClearCase
home="$work/cc home"
"$ccsim" init "$home" --demo >/dev/null || fail "ccsim init failed"
runtime=$work/runtime
mkdir -m 0700 "$runtime"
env -u DISPLAY -u WAYLAND_DISPLAY CLEARCASEHOME="$home" QT_QPA_PLATFORM=offscreen \
    XDG_RUNTIME_DIR="$runtime" /usr/bin/tessaly >"$work/run.log" 2>&1 &
pid=$!

# Up means: the single-instance lock is taken and the termination handler
# (installed once the window is shown) catches SIGTERM.
up=0
i=0
while [ $i -lt 200 ]; do
    kill -0 "$pid" 2>/dev/null || break
    if ls "$runtime"/tessaly-*.lock >/dev/null 2>&1; then
        caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
        # SIGTERM is signal 15: bit 14 of the mask.
        if [ -n "$caught" ] && [ $((0x$caught >> 14 & 1)) = 1 ]; then
            up=1
            break
        fi
    fi
    sleep 0.1
    i=$((i + 1))
done
if [ $up = 0 ]; then
    cat "$work/run.log"
    fail "the installed tessaly did not come up within 20 s"
fi
echo "tessaly is up (pid $pid), lock $(ls "$runtime")"

kill -TERM "$pid"
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
done
kill -0 "$pid" 2>/dev/null && fail "tessaly still runs 5 s after SIGTERM"
wait "$pid"
status=$?
pid=
cat "$work/run.log"
[ $status = 0 ] || fail "tessaly ended with status $status after SIGTERM"
ls "$runtime"/tessaly-*.lock >/dev/null 2>&1 && fail "the lock file outlived the program"

# ---- remove
dpkg -r tessaly >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r failed"; }
installed=0
[ -e /usr/bin/tessaly ] && fail "/usr/bin/tessaly is still there after dpkg -r"
echo "installed, started, stopped with SIGTERM (status 0) and removed"
exit 0
