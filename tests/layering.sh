#!/usr/bin/env bash
# The one-way rule between the source folders: each folder includes only
# itself and the folders below it. The linker keeps the core away from
# the widgets; this keeps the core's folders in their order, and the
# window's above the core: the main window and its controllers (app) over
# the progress window, over the shared dialogs and helpers (common).
#   layering.sh SRC
set -uo pipefail
src=$1
core="repair cc model process platform"
declare -A allowed=(
    [platform]="platform"
    [process]="process platform"
    [cc]="cc process platform"
    [model]="model"
    # The launcher reads the repair unit's reports by its protocol header.
    [repair]="$core wrap"
    [headless]="headless $core"
    [common]="common $core"
    [progress]="progress common $core"
    # main.cpp hands the command line to the headless face.
    [app]="app progress common headless $core"
    # The repair unit is plain POSIX: of the others it includes only the
    # platform layer's Qt-free shell quoting.
    [wrap]="wrap platform"
)
fails=0
# Every folder has its place in the table.
for path in "$src"/*/; do
    dir=$(basename "$path")
    if [ -z "${allowed[$dir]+set}" ]; then
        echo "FAIL: src/$dir has no place in the layering"
        fails=$((fails + 1))
    fi
done
for dir in "${!allowed[@]}"; do
    while IFS=: read -r file line text; do
        folder=$(sed -n 's/^#include "\([a-z]*\)\/.*/\1/p' <<<"$text")
        [ -z "$folder" ] && continue
        case " ${allowed[$dir]} " in
            *" $folder "*) ;;
            *) echo "FAIL: $file:$line includes $folder/ from src/$dir"; fails=$((fails + 1)) ;;
        esac
    done < <(grep -Hn '^#include "' "$src/$dir"/* 2>/dev/null)
done
[ $fails -eq 0 ] && echo "every folder includes only the folders below it"
exit $fails
