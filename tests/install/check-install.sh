#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what a desktop expects of it.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
for f in bin/quillon bin/quillon-tags; do
  [ -x "$prefix/$f" ] || fail "$f missing"
done
desktop=$prefix/share/applications/quillon.desktop
[ -f "$desktop" ] || fail "desktop entry missing"
desktop-file-validate "$desktop" || fail "desktop entry invalid"
# A file manager opens an MP3 with the editor: the file is passed, and MP3 types are claimed.
grep -qx 'Exec=quillon %f' "$desktop" || fail "desktop entry: $(grep '^Exec=' "$desktop")"
grep -qx 'MimeType=audio/mpeg;audio/x-mp3;audio/mp3;' "$desktop" ||
  fail "desktop entry: $(grep '^MimeType=' "$desktop" || echo no MimeType)"
if command -v update-desktop-database >/dev/null && command -v xdg-mime >/dev/null; then
  # Only the installed tree is looked at: the editor must be the one program for MP3 there.
  update-desktop-database "$prefix/share/applications"
  default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_HOME="$prefix/none" \
    XDG_CONFIG_HOME="$prefix/none" XDG_DATA_DIRS="$prefix/share" xdg-mime query default audio/mpeg)
  [ "$default" = quillon.desktop ] || fail "xdg-mime default for audio/mpeg: '$default'"
fi
for size in 16 22 24 32 48 64 128 256 512; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/quillon.png
  [ -f "$png" ] || fail "icon $size missing"
  # The PNG header holds the width and height at bytes 16..23.
  dims=$(od -An -tu1 -j16 -N8 "$png" | tr -s ' ')
  expect=" 0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256))"
  [ "$dims" = "$expect" ] || fail "icon $size has the wrong size ($dims)"
done
metainfo=$prefix/share/metainfo/io.github.quillon.Quillon.metainfo.xml
[ -f "$metainfo" ] || fail "metainfo missing"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo"; fail "metainfo invalid"; }
  for type in audio/mpeg audio/x-mp3 audio/mp3; do
    grep -q "<mediatype>$type</mediatype>" "$metainfo" || fail "metainfo does not provide $type"
  done
fi
for page in quillon quillon-tags; do
  man=$prefix/share/man/man1/$page.1.gz
  [ -f "$man" ] || fail "manual page $page.1.gz missing"
  lexgrog "$man" >/dev/null || fail "manual page $page.1.gz unreadable"
done
"$prefix/bin/quillon-tags" --help >/dev/null || fail "quillon-tags --help"
"$prefix/bin/quillon" --help >/dev/null || fail "quillon --help"
echo "install tree ok"
