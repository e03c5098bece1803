#!/usr/bin/env bash
# Installs the Debian package built from build/ into this machine with apt, as a user would
# (apt install ./quillon_*.deb, pulling the run-time dependencies from the archive), checks that
# the programs, the manual pages, the menu entry and the icon are in place and that the editor
# starts, then removes the package again. Needs root; run-tests.sh runs it when it is root.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build
[ "$(id -u)" -eq 0 ] || { echo "check-deb: needs root"; exit 1; }
if dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q 'install ok installed'; then
  echo "check-deb: a quillon package is installed already; leaving it alone"
  exit 0
fi
work=$(mktemp -d)
chmod 755 "$work" # apt's download user must be able to read the package
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq -o DPkg::Lock::Timeout=300 quillon \
      >/dev/null || echo "check-deb: could not remove quillon again"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >cpack.log 2>&1) || {
  cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
deb=$(ls "$work"/quillon_*.deb)
chmod 644 "$deb"

installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt install $(basename "$deb")"; }
dpkg-query -W -f='${Status}' quillon | grep -q 'install ok installed' || fail "not installed"
# Every dependency is satisfied now: apt would say otherwise.
apt-get check -qq >/dev/null || fail "apt-get check after installing"

[ "$(command -v quillon)" = /usr/bin/quillon ] || fail "quillon is not /usr/bin/quillon"
[ "$(command -v quillon-tags)" = /usr/bin/quillon-tags ] || fail "quillon-tags not on the path"
quillon --help >/dev/null || fail "quillon --help"
quillon-tags --help >/dev/null || fail "quillon-tags --help"
# Slim images tell dpkg to leave manual pages out; then there is nothing to find.
if ! grep -qs '^path-exclude=*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  for page in quillon quillon-tags; do
    [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man $page: $(man -w "$page")"
  done
fi
desktop-file-validate /usr/share/applications/quillon.desktop || fail "desktop entry"
[ -f /usr/share/icons/hicolor/48x48/apps/quillon.png ] || fail "icon"
printf '\xff\xfb\x90\x64' >"$work/song.MP3"
head -c 413 /dev/zero >>"$work/song.MP3"
quillon-tags show "$work/song.MP3" | grep -q '"exists": false' || fail "quillon-tags show"
echo "not a picture" >"$work/cover.jpg"
quillon-tags embed "$work/song.MP3" "$work/cover.jpg" --tpic 2>"$work/err" && fail "embed of no picture"
grep -q 'picture module' "$work/err" && fail "quillon-tags embed: $(cat "$work/err")"

# The editor starts on an X display and keeps running until it is closed.
xvfb-run -a -s '-screen 0 1280x1024x24' bash -c '
  quillon & pid=$!
  sleep 3
  kill -0 $pid || exit 1
  kill $pid; wait $pid || true' >"$work/editor.log" 2>&1 ||
  { cat "$work/editor.log"; fail "the installed editor did not stay up"; }
echo "installed $(basename "$deb") with apt, checked it and removed it again"
