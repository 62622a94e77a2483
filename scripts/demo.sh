#!/usr/bin/env bash
# Builds Tessaly and starts it against a fresh simulated ClearCase
# installation holding a few hundred demo views on six hosts. fix_prot runs
# as UNIX ClearCase wants it, on each view's host as root: the simulator's
# ssh and sudo stand-ins take the place of the real ones.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tessaly tessaly-wrap cleartool fix_prot ccsim ccsim_ssh ccsim_sudo

home=${TESSALY_DEMO_HOME:-$PWD/build/demo-home}
rm -rf "$home"
build/ccsim-bin/ccsim init "$home" --demo
echo "Simulated ClearCase installation: $home"
export CLEARCASEHOME=$home
export TESSALY_SSH="\"$home/var/ccsim/bin/ssh\""
export TESSALY_SUDO="\"$home/var/ccsim/bin/sudo\" -n"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    echo "No display: running under xvfb-run" >&2
    exec xvfb-run -a build/src/tessaly
fi
exec build/src/tessaly
