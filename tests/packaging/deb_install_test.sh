#!/bin/sh
# Builds the two Debian packages and checks their fields and files (and
# lintian's word on them, when it is installed). Installs tessaly alone, as
# a headless server would, and runs --list on a simulated ClearCase with no
# GUI library linked; verifies the installed nightly units, which must not
# be enabled. Then installs tessaly-gui, starts the installed
# /usr/bin/tessaly offscreen, ends it with SIGTERM (which closes its window
# as the close box does) and expects exit status 0, renders the installed
# man page, and purges both packages.
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
for p in tessaly tessaly-gui; do
    if dpkg-query -W -f='${Status}' $p 2>/dev/null | grep -q 'ok installed'; then
        skip "a $p package is installed already; not replacing it"
    fi
done

work=$(mktemp -d)
pid=
installed=0
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    [ $installed = 1 ] && dpkg -P tessaly-gui tessaly >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# ---- the packages
arch=$(dpkg --print-architecture)
debversion=$version-1
deb=$work/tessaly_${debversion}_${arch}.deb
gui=$work/tessaly-gui_${debversion}_${arch}.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
[ -f "$deb" ] && [ -f "$gui" ] || { ls "$work"; fail "cpack made no $deb and $gui"; }

for d in "$deb" "$gui"; do
    dpkg-deb -I "$d" || fail "dpkg-deb cannot read $d"
    [ "$(dpkg-deb -f "$d" Version)" = "$debversion" ] || fail "$d: version"
    dpkg-deb -f "$d" Maintainer | grep -q '@orvane\.example>' || fail "$d: maintainer"
done
[ "$(dpkg-deb -f "$deb" Package)" = tessaly ] || fail "package name"
[ "$(dpkg-deb -f "$gui" Package)" = tessaly-gui ] || fail "the window's package name"
case $(dpkg-deb -f "$deb" Section) in utils | devel) ;; *) fail "section" ;; esac
# The command's package needs Qt Core alone; the window's brings the rest.
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends" | grep -qw libqt6core6 || fail "tessaly's Depends lacks libqt6core6: $depends"
echo "$depends" | grep -qE 'libqt6(gui|widgets)6|tessaly-gui' && fail "tessaly depends on the GUI: $depends"
depends=$(dpkg-deb -f "$gui" Depends)
for lib in "tessaly (= $debversion)" libqt6widgets6 libqt6gui6; do
    echo "$depends" | grep -qF "$lib" || fail "tessaly-gui's Depends lacks $lib: $depends"
done
dpkg-deb -f "$gui" Recommends | grep -qw xterm || fail "tessaly-gui does not recommend xterm"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for f in ./usr/bin/tessaly ./usr/lib/tessaly/tessaly-wrap ./usr/lib/tessaly/tessaly-inspect \
    ./usr/share/man/man1/tessaly.1.gz ./usr/lib/tmpfiles.d/tessaly.conf \
    ./usr/share/bash-completion/completions/tessaly ./etc/tessaly/nightly.conf \
    ./usr/lib/systemd/system/tessaly-nightly.service ./usr/lib/systemd/system/tessaly-nightly.timer \
    ./usr/share/doc/tessaly/copyright ./usr/share/doc/tessaly/changelog.Debian.gz \
    ./usr/share/doc/tessaly/changelog.gz ./usr/share/doc/tessaly/examples/sudoers; do
    echo "$contents" | grep -qx -- "$f" || fail "tessaly lacks $f"
done
echo "$contents" | grep -qE 'tessaly-window|\.desktop$|/icons/' && fail "tessaly holds the window's files"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/tessaly/nightly.conf ||
    fail "nightly.conf is not a conffile"
guicontents=$(dpkg-deb -c "$gui" | awk '{print $NF}')
for f in ./usr/lib/tessaly/tessaly-window ./usr/share/applications/tessaly.desktop \
    ./usr/share/doc/tessaly-gui/copyright ./usr/share/doc/tessaly-gui/changelog.Debian.gz; do
    echo "$guicontents" | grep -qx -- "$f" || fail "tessaly-gui lacks $f"
done
for size in 16 32 48 64 128 256; do
    f=./usr/share/icons/hicolor/${size}x${size}/apps/tessaly.png
    echo "$guicontents" | grep -qx -- "$f" || fail "tessaly-gui lacks $f"
done
# The simulator's stand-ins must never land on a real machine's PATH.
for f in cleartool fix_prot ccsim; do
    echo "$contents$guicontents" | grep -q "/$f\$" && fail "a package holds the simulator's $f"
done

# lintian: no error or warning but those the packages' overrides explain.
if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" "$gui" >"$work/lintian.txt" 2>&1
    cat "$work/lintian.txt"
    grep -E '^[EW]: ' "$work/lintian.txt" && fail "lintian finds errors or warnings"
else
    echo "note: lintian is not installed; the packages were not linted"
fi

# ---- tessaly alone, as on a headless server
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i tessaly failed"; }
# Its postinst makes the shared lock directories at once, not at the next boot.
if [ -x "$(command -v systemd-tmpfiles)" ]; then
    made=$(stat -c '%U %a %F' /run/lock/tessaly-storage) || fail "postinst made no /run/lock/tessaly-storage"
    [ "$made" = "root 1777 directory" ] || fail "postinst made /run/lock/tessaly-storage as: $made"
fi
installed=1
[ -x /usr/bin/tessaly ] || fail "/usr/bin/tessaly was not installed"
home="$work/cc home"
"$ccsim" init "$home" --demo >/dev/null || fail "ccsim init failed"
views=$(env -u DISPLAY -u WAYLAND_DISPLAY CLEARCASEHOME="$home" /usr/bin/tessaly --list | wc -l)
[ "$views" -gt 0 ] || fail "the installed tessaly --list lists no view"
echo "tessaly --list, installed alone: $views views"
if command -v ldd >/dev/null 2>&1; then
    ldd /usr/bin/tessaly | grep -E 'libQt6(Gui|Widgets|XcbQpa)|libX11|libxcb|libGL' &&
        fail "/usr/bin/tessaly loads a GUI library"
    ldd /usr/bin/tessaly | grep -q libQt6Core || fail "ldd shows no Qt Core: $(ldd /usr/bin/tessaly)"
fi
CLEARCASEHOME="$home" /usr/bin/tessaly >"$work/nogui.out" 2>&1 && fail "tessaly without the window ended well"
grep -q tessaly-gui "$work/nogui.out" || fail "tessaly without the window does not name tessaly-gui"

# The nightly units: valid once installed, and not enabled.
if command -v systemd-analyze >/dev/null 2>&1; then
    systemd-analyze verify /usr/lib/systemd/system/tessaly-nightly.service \
        /usr/lib/systemd/system/tessaly-nightly.timer >"$work/verify.txt" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$work/verify.txt")"
    [ -s "$work/verify.txt" ] && fail "systemd-analyze verify complains: $(cat "$work/verify.txt")"
    echo "systemd-analyze verify accepts the installed units"
fi
ls /etc/systemd/system/*.wants/tessaly-nightly.* 2>/dev/null && fail "the nightly units were enabled"

# ---- and the window's package beside it
dpkg -i "$gui" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i tessaly-gui failed"; }

# ---- the lock directories the installed tmpfiles.d entry makes at boot:
# root's, mode 1777. Made under a root of its own, not in this machine's /run.
entry=/usr/lib/tmpfiles.d/tessaly.conf
[ -f "$entry" ] || fail "$entry was not installed"
if command -v systemd-tmpfiles >/dev/null 2>&1; then
    mkdir -p "$work/root/run/lock"
    systemd-tmpfiles --root="$work/root" --create "$entry" ||
        fail "systemd-tmpfiles --create $entry failed"
    for d in tessaly tessaly-storage; do
        made=$(stat -c '%U %a %F' "$work/root/run/lock/$d") || fail "no /run/lock/$d made"
        [ "$made" = "root 1777 directory" ] || fail "/run/lock/$d made as: $made"
        echo "systemd-tmpfiles --create $entry makes /run/lock/$d: $made"
    done
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
dpkg -P tessaly-gui tessaly >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P failed"; }
installed=0
[ -e /usr/bin/tessaly ] && fail "/usr/bin/tessaly is still there after dpkg -P"
[ -e /etc/tessaly/nightly.conf ] && fail "/etc/tessaly/nightly.conf is still there after dpkg -P"
echo "installed tessaly alone and listed, then tessaly-gui, started, stopped with SIGTERM (status 0) and purged"
exit 0
