#!/usr/bin/env bash
# The licence's SPDX line as the first line of every tracked C++ source.
#   scripts/spdx.sh          adds the line where it is missing
#   scripts/spdx.sh --check  names the files without it; exit 1 if any
# Rerun it after merging a branch that adds files.
set -euo pipefail
cd "$(dirname "$0")/.."
line='// SPDX-License-Identifier: Apache-2.0'
check=0
[ "${1:-}" = --check ] && check=1

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "spdx: not a git checkout; nothing to check" >&2
    exit 77
fi
missing=0
while IFS= read -r -d '' f; do
    [ -f "$f" ] || continue
    first=$(head -n 1 -- "$f")
    [ "${first%$'\r'}" = "$line" ] && continue
    missing=$((missing + 1))
    if [ $check = 1 ]; then
        echo "spdx: $f lacks '$line' as its first line"
    else
        { printf '%s\n' "$line"; cat -- "$f"; } >"$f.spdx" && mv -- "$f.spdx" "$f"
        echo "spdx: added to $f"
    fi
done < <(git ls-files -z -- '*.cpp' '*.h')
[ $check = 1 ] && [ $missing -gt 0 ] && exit 1
exit 0
