#!/usr/bin/env bash
# Without any display the editor says so in one line on stderr and ends with status 1 (Qt alone
# would print a page and abort with 134).
# Usage: no-display.sh QUILLON
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=/tmp "$1" 2>&1)
status=$?
echo "$out"
[ "$status" = 1 ] && [ "$(wc -l <<<"$out")" = 1 ] && [[ $out == *"needs a display"* ]]
