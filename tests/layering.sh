#!/usr/bin/env bash
# The one-way rule between the source folders: each folder includes only
# itself and the folders below it. The linker keeps the core away from
# the widgets; this keeps the core's folders in their order.
#   layering.sh SRC
set -uo pipefail
src=$1
declare -A allowed=(
    [platform]="platform"
    [process]="process platform"
    [cc]="cc process platform"
    [model]="model"
    [repair]="repair cc model process platform"
    [headless]="headless repair cc model process platform"
)
fails=0
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
