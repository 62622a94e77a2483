#!/usr/bin/env bash
# Builds Tessaly and starts it against a fresh simulated ClearCase
# installation holding a few hundred demo views.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tessaly cleartool fix_prot ccsim

home=${TESSALY_DEMO_HOME:-$PWD/build/demo-home}
rm -rf "$home"
build/ccsim-bin/ccsim init "$home" --demo
echo "Simulated ClearCase installation: $home"
export CLEARCASEHOME=$home
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    echo "No display: running under xvfb-run" >&2
    exec xvfb-run -a build/src/tessaly
fi
exec build/src/tessaly
