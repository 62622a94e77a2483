#!/usr/bin/env bash
# Renders the README's pictures (docs/images/*.png) from the real windows on
# a simulated ClearCase with the demo views, under a virtual X server, and
# checks the main window's layout at scale factor 2: captions that do not
# fit or controls that overlap make it fail.
#   scripts/make-pictures.sh            # build dir: $TESSALY_BUILD_DIR or build
set -euo pipefail
cd "$(dirname "$0")/.."

build=${TESSALY_BUILD_DIR:-build}
out=docs/images
for tool in cmake xvfb-run; do
    command -v "$tool" >/dev/null || { echo "make-pictures: $tool is missing (scripts/deps.sh test installs it)" >&2; exit 1; }
done

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tessaly_shots tessaly-wrap ccsim cleartool fix_prot

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY

shoot() { # SCALE SCREEN OUTDIR
    rm -rf "$work/home"
    "$build/ccsim-bin/ccsim" init "$work/home" --demo >/dev/null
    mkdir -p "$3"
    # The run behind the progress picture reaches the view hosts through the
    # home's ssh and sudo stand-ins, as the demo does, never the network.
    # The picture tool lives in packaging/, not beside the repair unit.
    CLEARCASEHOME=$work/home QT_SCALE_FACTOR=$1 TESSALY_WRAP=$build/src/tessaly-wrap \
        TESSALY_SSH=$work/home/var/ccsim/bin/ssh TESSALY_SUDO="$work/home/var/ccsim/bin/sudo -n" \
        xvfb-run -a -s "-screen 0 ${2}x24" "$build/packaging/tessaly_shots" "$3"
}

echo "== pictures at scale 1 -> $out"
shoot 1 1280x1024 "$out"
# A scale-2 screen is twice as large, or message boxes get half the room.
echo "== layout check at scale 2 -> $build/pictures@2x"
shoot 2 2560x2048 "$build/pictures@2x"
echo "make-pictures: done; look at $build/pictures@2x/main-window.png for the scale-2 window"
