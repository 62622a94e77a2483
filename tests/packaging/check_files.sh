#!/bin/sh
# Checks the files installed beside the executable, as they come out of the
# build: the desktop entry validates, the man page renders without a single
# warning and says how ClearCase is found, and every icon is a PNG of its
# directory's size.
#   check_files.sh DESKTOP_FILE MAN_PAGE ICON_DIR SIZE...
set -u
desktop=$1
manpage=$2
icons=$3
shift 3
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# ---- desktop entry
if command -v desktop-file-validate >/dev/null 2>&1; then
    # Hints are advice; errors and warnings fail.
    out=$(desktop-file-validate "$desktop" 2>&1)
    echo "$out" | grep -v ': hint: ' | grep -q . && fail "desktop-file-validate: $out"
else
    echo "desktop-file-validate not installed: the desktop entry is checked by hand only"
fi
for line in 'Type=Application' 'Exec=tessaly' 'Icon=tessaly' 'Categories=Development;System;'; do
    grep -qx "$line" "$desktop" || fail "desktop entry lacks '$line'"
done

# ---- man page
if command -v groff >/dev/null 2>&1; then
    err=$(groff -man -Tutf8 -ww -z "$manpage" 2>&1)
    [ -z "$err" ] || fail "groff warns about the man page: $err"
    text=$(groff -man -Tutf8 -P-cbou "$manpage" 2>/dev/null)
    for word in NAME SYNOPSIS 'EXIT STATUS' FILES CLEARCASEHOME ATRIAHOME \
        /opt/rational/clearcase bin/cleartool etc/utils/fix_prot Normal Hide Minimized; do
        printf '%s\n' "$text" | grep -qF -- "$word" || fail "man page does not mention '$word'"
    done
    grep -q '@[A-Z_]*@' "$manpage" && fail "man page has an unsubstituted @VARIABLE@"
    head -n 1 "$manpage" | grep -q '^\.TH TESSALY 1 ' || fail "man page is not in section 1"
else
    echo "groff not installed: man page rendering not checked"
fi

# ---- icons: the PNG signature, then the IHDR width and height
for size in "$@"; do
    png="$icons/${size}x${size}/apps/tessaly.png"
    if [ ! -s "$png" ]; then
        fail "missing $png"
        continue
    fi
    sig=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
    [ "$sig" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
    w=$(od -An -tu1 -j16 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    h=$(od -An -tu1 -j20 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$png is ${w}x${h}, wanted ${size}x${size}"
done

[ $failed = 0 ] && echo "desktop entry, man page and $# icons are in order"
exit $failed
