#!/usr/bin/env bash
# Builds the Qt-free Windows layer with mingw-w64 and runs its tests
# under Wine. Usage: scripts/test-windows.sh [build-dir]
# TESSALY_WINEPREFIX picks the Wine prefix (default ~/.cache/tessaly-wine);
# it is created on first use and reused afterwards.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-win}
export WINEPREFIX=${TESSALY_WINEPREFIX:-$HOME/.cache/tessaly-wine}
export TESSALY_WINEPREFIX=$WINEPREFIX
export WINEDEBUG=-all
# No Mono/Gecko installation prompts when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

for tool in x86_64-w64-mingw32-g++ wine cmake; do
    command -v "$tool" >/dev/null || { echo "test-windows: $tool is not installed" >&2; exit 2; }
done

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DTESSALY_WINLAYER_ONLY=ON \
    -DTESSALY_WERROR=ON \
    -DTESSALY_WINEPREFIX="$WINEPREFIX"
cmake --build "$build" --parallel

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "test-windows: creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 180 wineboot -i >/dev/null 2>&1 || { echo "test-windows: wineboot failed" >&2; exit 1; }
    # Let the new prefix's server finish writing the registry.
    timeout 30 wineserver -w || true
fi
# Keep one Wine server for the whole run instead of one per test (a server
# already running for this prefix is reused), and stop it afterwards.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first program of a session starts Wine's background services, which
# would inherit the output pipe of whichever test comes first and keep
# CTest waiting for them; start them here instead, detached from it.
timeout 60 wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true

# The tests are declared in win/ (the top-level file returns before its
# enable_testing() in this configuration).
ctest --test-dir "$build/win" --output-on-failure --timeout 120 -j "$(nproc)"
