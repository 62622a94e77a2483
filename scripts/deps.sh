#!/usr/bin/env bash
# Installs the Debian packages Tessaly needs that are not there yet.
#   scripts/deps.sh demo   what building and running the demo needs
#   scripts/deps.sh test   that, plus what the whole test suite needs
set -euo pipefail

kind=${1:-test}
build=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev fonts-dejavu-core fonts-liberation2)
demo=(xterm)
test=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      clang-format xvfb xauth xdotool dpkg-dev file desktop-file-utils groff man-db lintian)
# Windows layer, cross-compiled and run under Wine: without recommends.
win=(wine wine64 g++-mingw-w64-x86-64-win32)

want=("${build[@]}" "${demo[@]}")
[ "$kind" = test ] && want+=("${test[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
missing_win=()
if [ "$kind" = test ]; then
    for p in "${win[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing_win+=("$p")
    done
fi
[ ${#missing[@]} -eq 0 ] && [ ${#missing_win[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps: run as root or install sudo; missing: ${missing[*]} ${missing_win[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
echo "deps: installing ${missing[*]} ${missing_win[*]}"
"${sudo[@]}" apt-get update -qq
[ ${#missing[@]} -gt 0 ] && "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#missing_win[@]} -gt 0 ] && "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing_win[@]}" >/dev/null
exit 0
