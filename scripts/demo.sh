#!/usr/bin/env bash
# Builds Tessaly and starts it against a fresh simulated ClearCase
# installation holding a few hundred demo views on six hosts. fix_prot runs
# as UNIX ClearCase wants it, on each view's host as root: the simulator's
# ssh and sudo stand-ins take the place of the real ones.
#
#   scripts/demo.sh           a fresh demo home
#   scripts/demo.sh --keep    start again on the home the last run left
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
# A window needs a display; without one the demo would run unseen.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: Tessaly needs a display: run this in a desktop session, or set DISPLAY" >&2
    echo "      to a running X server (for example: ssh -X, or xvfb-run -a scripts/demo.sh)" >&2
    exit 2
fi

scripts/deps.sh demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tessaly tessaly-wrap cleartool fix_prot ccsim ccsim_ssh ccsim_sudo ccsim_find

home=${TESSALY_DEMO_HOME:-$PWD/build/demo-home}
if [ $keep = 0 ] || [ ! -f "$home/var/ccsim/registry" ]; then
    rm -rf "$home"
    build/ccsim-bin/ccsim init "$home" --demo
fi
echo "Simulated ClearCase installation: $home"
export CLEARCASEHOME=$home
export TESSALY_SSH="\"$home/var/ccsim/bin/ssh\""
export TESSALY_SUDO="\"$home/var/ccsim/bin/sudo\" -n"
exec build/src/tessaly
