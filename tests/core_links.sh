#!/usr/bin/env bash
# The core's test programs load Qt Core and neither Qt Gui nor Qt Widgets:
# they test the core as the headless program runs it, with no window
# library at hand, whatever a test or the support it links may include.
#   core_links.sh PROGRAM...
set -uo pipefail
fails=0
for program in "$@"; do
    if ! needed=$(readelf -d "$program" 2>&1 | grep NEEDED); then
        echo "FAIL: no shared libraries read from $program"
        fails=$((fails + 1))
    elif ! grep -q 'libQt6Core' <<<"$needed"; then
        echo "FAIL: $(basename "$program") does not load Qt Core (is this a Qt program?)"
        fails=$((fails + 1))
    elif grep -E 'libQt6(Gui|Widgets)' <<<"$needed"; then
        echo "FAIL: $(basename "$program") loads a window library"
        fails=$((fails + 1))
    fi
done
[ $fails -eq 0 ] && echo "$# core test programs load Qt Core alone of Qt's libraries"
exit $fails
