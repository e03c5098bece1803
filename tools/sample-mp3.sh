#!/usr/bin/env bash
# Writes a small MP3 file with Chinese tags for the screenshots of the documentation, made byte by
# byte here and tagged with the project's own quillon-tags:
#   ID3v2: title, artist, album, year, genre, comment, and a front cover drawn by icongen
#   APEv2: title and artist (UTF-8); ID3v1: title and artist in code page 936
# tools/sample-mp3.sh BUILD_DIR OUT.mp3
set -euo pipefail
build=$1 out=$2
tags=$build/cli/quillon-tags
icongen=$build/tools/icongen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

le32() { # N: four bytes, little-endian, as printf escapes
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) \
    $(($1 >> 24 & 255))
}

# 40 MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz (417 bytes each): one second of silence.
frame=$work/frame
{ printf '\xff\xfb\x90\x00'; head -c 413 /dev/zero; } >"$frame"
for _ in $(seq 40); do cat "$frame"; done >"$out"

# An APEv2 tag (header, items, footer) behind the audio.
ape_item() { # KEY VALUE
  local size
  size=$(printf '%s' "$2" | wc -c)
  printf "$(le32 "$size")$(le32 0)%s\\x00%s" "$1" "$2"
}
ape_item Title '月亮代表我的心' >"$work/items"
ape_item Artist '邓丽君' >>"$work/items"
size=$(($(wc -c <"$work/items") + 32))
ape_head() { # FLAGS
  printf "APETAGEX$(le32 2000)$(le32 "$size")$(le32 2)$(le32 "$1")\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00"
}
{ ape_head $((0xa0000000)); cat "$work/items"; ape_head $((0x80000000)); } >>"$out"

# An ID3v1 block at the very end: fields in code page 936, NUL-padded to their widths.
field() { # WIDTH TEXT
  printf '%s' "$2" | iconv -f UTF-8 -t GBK >"$work/field"
  cat "$work/field"
  head -c $(($1 - $(wc -c <"$work/field"))) /dev/zero
}
{
  printf 'TAG'
  field 30 '月亮代表我的心'
  field 30 '邓丽君'
  field 30 ''
  printf '1977'
  field 30 ''
  printf '\x0c' # genre 12, Other
} >>"$out"

# The ID3v2 tag, through the same engine as the editor.
for frame in 'TIT2 月亮代表我的心' 'TPE1 邓丽君' 'TALB 岛国之情歌 第四集' 'TYER 1977' 'TCON 流行' \
  'COMM 一九七七年录音，中文歌词。'; do
  "$tags" set "$out" "${frame%% *}" "${frame#* }" --no-backup >/dev/null
done
"$tags" add "$out" APIC --no-backup >/dev/null
"$icongen" --picture 240 320 "$work/cover.bmp"
"$tags" embed "$out" "$work/cover.bmp" --apic 6 --desc '封面' --no-backup >/dev/null
