#!/usr/bin/env bash
# Compiles the Windows sources that use Qt for syntax alone: there is no
# Qt for mingw-w64 to build them with, so they are checked against the
# Linux Qt headers (qt6-base-dev), whose system detection takes Windows
# from the compiler's _WIN32. Checked are the *_win.cpp files outside
# src/platform (the Wine build compiles that folder for real) and every
# other source with a _WIN32 or Q_OS_WIN branch that Windows builds (not
# the *_posix.cpp files, src/wrap or cleartoolcli.cpp, which are built on
# POSIX only); the definitions are the ones CMake gives every target.
# Exits non-zero when a file fails.
#   scripts/check-windows-qt.sh [FILE...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=x86_64-w64-mingw32-g++
command -v "$cxx" >/dev/null || { echo "check-windows-qt: $cxx is not installed" >&2; exit 2; }
qt=${TESSALY_QT_HEADERS:-/usr/include/x86_64-linux-gnu/qt6}
[ -f "$qt/QtCore/qglobal.h" ] || { echo "check-windows-qt: no Qt headers in $qt" >&2; exit 2; }

cd "$root"
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(
        { find src -name '*_win.cpp' -not -path 'src/platform/*'
          grep -rlE '_WIN32|Q_OS_WIN' src --include='*.cpp'; } |
            grep -vE '^src/(platform|wrap)/|_posix\.cpp$|^src/cc/cleartoolcli\.cpp$' | sort -u)
fi

# The definitions of tessaly_settings, Qt's and Windows' alike.
mapfile -t defines < <(
    tr '\n' ' ' <cmake/TessalySettings.cmake |
        grep -o 'target_compile_definitions(tessaly_settings INTERFACE[^)]*)' |
        sed 's/target_compile_definitions(tessaly_settings INTERFACE//; s/)//' |
        tr -s ' ' '\n' | grep -E '^[A-Z0-9_]+$' | sed 's/^/-D/')
[ ${#defines[@]} -gt 0 ] || { echo "check-windows-qt: no definitions found" >&2; exit 2; }

# The headers CMake generates, made the same way.
gen=$(mktemp -d)
trap 'rm -rf "$gen"' EXIT
mkdir -p "$gen/repair"
template=$(<src/repair/inspect_script.h.in)
script=$(<src/repair/tessaly-inspect)
printf '%s\n' "${template/@TESSALY_INSPECT_SCRIPT@/"$script"}" >"$gen/repair/inspect_script.h"

flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror "${defines[@]}"
    -DTESSALY_VERSION='"0"' -DUNICODE -D_UNICODE
    -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets"
    -I src -I "$gen")

# One compiler per processor; each file's verdict and messages are
# printed together.
out=$gen/out
mkdir -p "$out"
check() {
    local log=$out/$2
    if "$cxx" "${flags[@]}" "$1" >"$log" 2>&1; then
        echo "ok   $1" >>"$log"
    else
        echo "FAIL $1" >>"$log"
        return 1
    fi
}
failed=0
running=0
for i in "${!files[@]}"; do
    if [ $running -ge "$(nproc)" ]; then
        wait -n || failed=$((failed + 1))
        running=$((running - 1))
    fi
    check "${files[$i]}" "$i" &
    running=$((running + 1))
done
while [ $running -gt 0 ]; do
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
done
for i in "${!files[@]}"; do
    cat "$out/$i"
done
echo "check-windows-qt: ${#files[@]} files, $failed failed"
[ $failed -eq 0 ]
