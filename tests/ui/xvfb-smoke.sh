#!/usr/bin/env bash
# Runs the real editor on a virtual X display, as a file manager starts it on an MP3 file, and
# checks what a person would see first: the window with its caption, its 760 x 562 client area
# that cannot be resized, in the middle of the screen, and the file's first frame in the grid.
# Saves a screenshot. Exits 77 (skipped) when Xvfb or the X tools are not installed.
# With QT_SCALE_FACTOR=2 the window is twice as large in device pixels, on a screen twice as large.
# Usage: xvfb-smoke.sh QUILLON SCREENGRAB OUTPUT.png
set -uo pipefail
quillon=$1 shot=$2 out=$3
for tool in xvfb-run xwininfo xprop; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
scale=${QT_SCALE_FACTOR:-1}
screenWidth=$((1024 * scale)) screenHeight=$((768 * scale))
wantWidth=$((760 * scale)) wantHeight=$((562 * scale))
# A virtual display can fail to start, or start and not answer, when a server that just ended
# still holds its number on a busy machine: a new server is tried then.
if [ -z "${IN_XVFB:-}" ]; then
  started=$(mktemp -u)
  for _ in 1 2 3; do
    IN_XVFB=$started xvfb-run -a -s "-screen 0 ${screenWidth}x${screenHeight}x24" bash "$0" "$@"
    status=$?
    [ -e "$started" ] && [ "$status" -ne 75 ] && { rm -f "$started"; exit "$status"; }
    rm -f "$started"
    sleep 1
  done
  echo "FAIL: no virtual display answered in three tries"
  exit 1
fi
touch "$IN_XVFB"
for _ in $(seq 1 50); do
  xwininfo -root >/dev/null 2>&1 && break
  sleep 0.1
done
xwininfo -root >/dev/null 2>&1 || { echo "the virtual display does not answer; a new one"; exit 75; }

fail() { echo "FAIL: $*"; kill "$pid" 2>/dev/null; exit 1; }
caption=' MP3[ID3v2]通用标签编辑器'
unset QT_QPA_PLATFORM
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LANG=C.UTF-8 XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work
# An ID3v2 tag (the size field counting its 10 header bytes) holding the title "月亮" in code
# page 936, then one MPEG frame of silence. The lower-case extension is opened too.
song=$work/song.mp3
printf 'ID3\x03\0\0\0\0\0\x19TIT2\0\0\0\x05\0\0\0\xd4\xc2\xc1\xc1\xff\xfb\x90\0' >"$song"
head -c 413 /dev/zero >>"$song"
"$quillon" "$song" &
pid=$!
# Wait for the window to be mapped (the program starts in well under a second; allow a slow CI).
id=
for _ in $(seq 1 100); do
  id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$caption\"" | awk '{print $1}' | head -1)
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && break
  kill -0 "$pid" 2>/dev/null || fail "the editor ended early"
  sleep 0.2
done
[ -n "$id" ] || fail "no window titled '$caption'"
info=$(xwininfo -id "$id")
echo "$info" | grep -F "Window id: $id \"$caption\"" >/dev/null || fail "caption: $(echo "$info" | head -2)"
width=$(echo "$info" | awk '/^ *Width:/ {print $2}')
height=$(echo "$info" | awk '/^ *Height:/ {print $2}')
x=$(echo "$info" | awk '/Absolute upper-left X:/ {print $4}')
y=$(echo "$info" | awk '/Absolute upper-left Y:/ {print $4}')
[ "$width" = "$wantWidth" ] && [ "$height" = "$wantHeight" ] ||
  fail "size ${width}x${height}, not ${wantWidth}x${wantHeight}"
x0=$(((screenWidth - wantWidth) / 2)) y0=$(((screenHeight - wantHeight) / 2))
((x >= x0 - scale && x <= x0 + scale && y >= y0 - scale && y <= y0 + scale)) ||
  fail "window at $x,$y, not centred on the ${screenWidth}x${screenHeight} screen"
name=$(xprop -id "$id" _NET_WM_NAME)
[ "$name" = "_NET_WM_NAME(UTF8_STRING) = \"$caption\"" ] || fail "title property: $name"
hints=$(xprop -id "$id" WM_NORMAL_HINTS)
echo "$hints" | grep -q "program specified minimum size: $wantWidth by $wantHeight" &&
  echo "$hints" | grep -q "program specified maximum size: $wantWidth by $wantHeight" ||
  fail "the window can be resized: $hints"
# No minimise or maximise: neither the functions nor the decorations of the Motif hints offer
# them.
read -r _ _ flags functions decorations _ <<<"$(xprop -id "$id" _MOTIF_WM_HINTS | tr -d ',')"
(( (functions & 0x18) == 0 && (decorations & 0x60) == 0 )) ||
  fail "the window offers minimise or maximise: functions $functions decorations $decorations"
# The file is open: text in the first grid row's content cell, blank while no file is open.
colours=0
for _ in $(seq 1 50); do
  colours=$("$shot" "$id" --colours $((64 * scale)) $((106 * scale)) $((300 * scale)) $((12 * scale)))
  ((colours > 2)) && break
  sleep 0.1
done
((colours > 2)) || fail "the first grid row is blank ($colours colours): '$song' is not open"
"$shot" "$id" "$out" || fail "no screenshot"
kill "$pid"
wait "$pid" 2>/dev/null
echo "window ${width}x${height} at $x,$y titled '$caption'; screenshot $out"
