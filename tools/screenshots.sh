#!/usr/bin/env bash
# Makes the screenshots of the documentation from the real editor under Xvfb:
#   docs/screenshots/window.png          the window at 96 dpi with a file open
#   docs/screenshots/window-scale2.png   the same at a scale factor of 2
#   docs/screenshots/picture-panel.png   the picture panel with a picture chosen, at 96 dpi
#   docs/screenshots/codepage-*.png      the window with a Big5, a Shift-JIS and a windows-1252
#                                        file open: their legacy texts in the detected code page
# tools/screenshots.sh [FILE.mp3 [PICTURE]]
# FILE (by default a sample with Chinese tags from tools/sample-mp3.sh, at a path a user would
# have: ~/音乐/月亮代表我的心.mp3 of a user xiaoming) is opened as a file manager opens it,
# `quillon FILE`. Its picture frame is then selected in the grid and PICTURE (by
# default one drawn by icongen) chosen with the picture button and its file dialog, as a user
# would; the picture panel is cut from that window. Without a picture frame in FILE the panel
# stays as it is.
set -euo pipefail
export LC_ALL=C.UTF-8 # characters, not bytes, in the paths typed below
cd "$(dirname "$0")/.."
repo=$PWD
file=${1:+$(realpath "$1")}
picture=${2:+$(realpath "$2")}
[ -z "$file" ] || [ -f "$file" ] || { echo "screenshots: no file $1"; exit 2; }
[ -z "$picture" ] || [ -f "$picture" ] || { echo "screenshots: no picture $2"; exit 2; }
# The sample's home folder exists only for this script: a /home of its own, in a mount namespace
# of its own, hides the machine's.
home=/home/xiaoming
if [ -z "$file" ] && [ -z "${QUILLON_SCREENSHOTS_HOME:-}" ]; then
  ns=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || ns=(unshare --mount --map-root-user)
  exec env QUILLON_SCREENSHOTS_HOME=1 "${ns[@]}" bash "$repo/tools/screenshots.sh"
fi
bash tools/install-deps.sh
bash tools/build.sh >/dev/null
editor=$repo/build/app/quillon
grab=$repo/build/tools/screengrab
out=$repo/docs/screenshots
mkdir -p "$out"

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work # the dialogs' folders are not the user's
if [ -z "$file" ]; then
  mount -t tmpfs -o mode=755 tmpfs /home
  mkdir -p "$home/音乐"
  file=$home/音乐/月亮代表我的心.mp3
  bash tools/sample-mp3.sh build "$file"
  export HOME=$home
fi
if [ -z "$picture" ]; then
  picture=$work/photo.bmp
  build/tools/icongen --picture 480 640 "$picture"
fi
# The grid row of the file's first picture frame, if any (the frames list counts from row 1).
pictureRow=$(build/cli/quillon-tags show "$file" 2>/dev/null |
  grep -o '"id": "[A-Z0-9]*"' | grep -n -m1 -E 'APIC|TPIC' | cut -d: -f1 || true)
xvfb=
editorPid=
cleanup() {
  [ -z "$editorPid" ] || kill "$editorPid" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, at 96 dpi, with no window manager: what is grabbed is the client area.
Xvfb -displayfd 3 -screen 0 1920x1280x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "screenshots: Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$work/display")
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# The visible windows of the editor: the main window first, then any dialog it opened.
windows() { xdotool search --onlyvisible --pid "$editorPid" 2>/dev/null || true; }

wait_windows() { # COUNT: waits until the editor shows that many windows
  for _ in $(seq 100); do
    [ "$(windows | wc -l)" -eq "$1" ] && return 0
    sleep 0.1
  done
  echo "screenshots: expected $1 window(s) of the editor, see $(windows | wc -l)"
  return 1
}

click() { # X Y in the window's own pixels at 96 dpi
  xdotool mousemove --window "$main" $(($1 * scale)) $(($2 * scale)) click 1
}

# Types TEXT into the focused window. xdotool types a character beyond ASCII by remapping a spare
# key, which a fast typist outruns: such characters go one at a time.
type_text() { # TEXT
  local text=$1 i c run=
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    if [[ "$c" == [[:print:]] && $(printf '%s' "$c" | wc -c) -eq 1 ]]; then
      run+=$c
      continue
    fi
    [ -z "$run" ] || xdotool type --delay 15 -- "$run"
    run=
    xdotool type --delay 100 -- "$c"
    sleep 0.2
  done
  [ -z "$run" ] || xdotool type --delay 15 -- "$run"
}

# Clicks a button that opens a file dialog, types PATH into it and accepts it.
choose() { # X Y PATH
  click "$1" "$2"
  if ! wait_windows 2; then
    echo "screenshots: no file dialog appeared (is the button there and enabled?)"
    return 1
  fi
  local dialog
  dialog=$(windows | grep -vx "$main" | head -1)
  xdotool windowfocus --sync "$dialog"
  type_text "$3"
  sleep 0.3
  xdotool key Return
  if ! wait_windows 1; then
    "$grab" "$main" "$work/dialog.png" 2>/dev/null && cp "$work/dialog.png" "$out/failed-dialog.png"
    echo "screenshots: the file dialog did not take $3 (see docs/screenshots/failed-dialog.png)"
    exit 1
  fi
  sleep 1 # let the window finish drawing what it read
}

# The grid's rows are 16 pixels high, the first below the header at 104 in the window.
select_row() { # ROW
  click 120 $((96 + 16 * $1))
  sleep 0.5
}

for scale in 1 2; do
  if [ "$scale" = 1 ]; then unset QT_SCALE_FACTOR; else export QT_SCALE_FACTOR=$scale; fi
  "$editor" "$file" >"$work/editor.log" 2>&1 &
  editorPid=$!
  wait_windows 1 || { cat "$work/editor.log"; exit 1; }
  main=$(windows | head -1)
  xdotool mousemove 0 0 # no hover highlight in the pictures
  sleep 1.5 # let the window finish drawing what it read
  if [ "$scale" = 1 ]; then
    "$grab" "$main" "$out/window.png"
    if [ -z "$pictureRow" ]; then
      echo "screenshots: no picture frame in $file, no picture-panel.png"
    elif select_row "$pictureRow" && choose 541 70 "$picture"; then # btnSelPic
      xdotool mousemove 0 0
      sleep 0.5
      "$grab" "$main" "$out/picture-panel.png" 480 52 265 474 # Panel1
    else
      echo "screenshots: the picture could not be chosen, no picture-panel.png"
    fi
  else
    "$grab" "$main" "$out/window-scale2.png"
  fi
  kill "$editorPid"
  wait "$editorPid" 2>/dev/null || true
  editorPid=
done

# Files tagged on machines of other code pages: encoding-0 texts and an ID3v1 block in Big5,
# Shift-JIS and windows-1252, built byte by byte.
legacy_mp3() { # CODEC FILE TITLE ARTIST ALBUM
  python3 - "$@" <<'PY'
import struct, sys
codec, path, title, artist, album = sys.argv[1:]
def frame(fid, text):
    data = b"\0" + text.encode(codec)
    return fid.encode() + struct.pack(">I", len(data)) + b"\0\0" + data
body = frame("TIT2", title) + frame("TPE1", artist) + frame("TALB", album) + b"\0" * 64
size = len(body)
tag = b"ID3\3\0\0" + bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
audio = (b"\xff\xfb\x90\x00" + b"\0" * 413) * 8
def field(text, n):
    return text.encode(codec)[:n].ljust(n, b"\0")
v1 = b"TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + b"2001" + b"\0" * 30 + b"\x0c"
open(path, "wb").write(tag + body + audio + v1)
PY
}
unset QT_SCALE_FACTOR
for page in big5 shift_jis windows-1252; do
  case $page in
  big5) legacy_mp3 cp950 "$work/$page.mp3" 月亮代表我的心 鄧麗君 淡淡幽情 ;;
  shift_jis) legacy_mp3 cp932 "$work/$page.mp3" 千と千尋の神隠し 久石譲 サウンドトラック ;;
  windows-1252) legacy_mp3 cp1252 "$work/$page.mp3" "Café del Mar" Beyoncé Motörhead ;;
  esac
  "$editor" "$work/$page.mp3" >"$work/editor.log" 2>&1 &
  editorPid=$!
  wait_windows 1 || { cat "$work/editor.log"; exit 1; }
  main=$(windows | head -1)
  xdotool mousemove 0 0
  sleep 1.5
  "$grab" "$main" "$out/codepage-$page.png"
  kill "$editorPid"
  wait "$editorPid" 2>/dev/null || true
  editorPid=
done
echo "screenshots written to docs/screenshots/: $(cd "$out" && ls)"
