#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it the way dpkg and apt will see it:
# its control fields, its run-time dependencies, the files it holds and that its programs work
# from the unpacked tree. check-deb.sh BUILD_DIR [HARDENED [OPTIMISED]]
# HARDENED (1 by default) says the build hardened the programs; 0 when the builder's own flags
# decided. OPTIMISED (1 by default) is 0 for a Debug build, where glibc has no checked calls.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >cpack.log 2>&1) || {
  cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb=$work/out/quillon_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb") (made: $(ls "$work/out"))"

# Control fields.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quillon ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = sound ] || fail "Section: $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority: $(field Priority)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\ ]+@[^@\ ]+\.[a-z]+\>$ ]] ||
  fail "Maintainer is no 'Name <address>': $(field Maintainer)"
[[ "$(field Homepage)" == https://* ]] || fail "Homepage: $(field Homepage)"
description=$(field Description)
[ "$(printf '%s\n' "$description" | head -1)" = "MP3 tag editor with a Chinese interface" ] ||
  fail "Description summary: $description"
[ "$(printf '%s\n' "$description" | wc -l)" -ge 5 ] || fail "no long description: $description"
! tail -n +2 <<<"$description" | grep -qv '^ ' ||
  fail "long description lines must start with a blank"

# Run-time dependencies: every library the programs and the picture module load, and a font
# that can show the Chinese interface.
depends=$(field Depends)
names=" $(printf '%s\n' "$depends" | tr ',|' '\n\n' | awk '{ print $1 }' | tr '\n' ' ')"
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo; do
  [[ "$names" == *" $need "* ]] || fail "Depends lacks $need: $depends"
done
[[ "$depends" == *"fonts-wqy-zenhei | fonts-noto-cjk"* ]] || fail "Depends lacks a CJK font"
[[ "$names" == *" qt6-translations-l10n "* ]] || fail "Depends lacks Qt's translations: $depends"
[ -z "$(field Pre-Depends)" ] || fail "unexpected Pre-Depends"

# Files: everything under /usr, nothing under /usr/local, owned by root. The listing is searched
# from a here-string: a pipe into grep -q breaks under pipefail when grep stops reading early.
contents=$(dpkg-deb --contents "$deb")
! printf '%s\n' "$contents" | awk '{ print $2, $6 }' | grep -v '^root/root \./usr/' ||
  fail "files outside /usr or not owned by root"
grep -q '\./usr/local' <<<"$contents" && fail "files under /usr/local"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for f in usr/bin/quillon usr/bin/quillon-tags \
  "usr/lib/$multiarch/quillon/quillon-embed.so" \
  usr/share/applications/quillon.desktop \
  usr/share/metainfo/io.github.quillon.Quillon.metainfo.xml \
  usr/share/man/man1/quillon.1.gz usr/share/man/man1/quillon-tags.1.gz \
  usr/share/doc/quillon/copyright usr/share/doc/quillon/changelog.gz; do
  grep -q " \./$f\$" <<<"$contents" || fail "package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256 512; do
  grep -q " \./usr/share/icons/hicolor/${size}x$size/apps/quillon.png\$" <<<"$contents" ||
    fail "package lacks the $size px icon"
done
grep -E '^-rwx' <<<"$contents" | grep -qv -E ' \./usr/bin/quillon(-tags)?$' &&
  fail "executable files besides the two programs"
# A private module needs no ldconfig run; the package has no maintainer scripts.
mkdir "$work/control"
dpkg-deb --control "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "unexpected $script: $(cat "$work/control/$script")"
done
# The changelog names the packaged version.
mkdir "$work/root"
dpkg-deb --extract "$deb" "$work/root"
root=$work/root
[[ "$(gzip -dc "$root/usr/share/doc/quillon/changelog.gz")" == "quillon ($version) "* ]] ||
  fail "changelog does not start with version $version"

# The unpacked programs: stripped, the command-line tool free of Qt and finding its module in
# the packaged layout.
for f in usr/bin/quillon usr/bin/quillon-tags "usr/lib/$multiarch/quillon/quillon-embed.so"; do
  file "$root/$f" | grep -q ', stripped' || fail "/$f is not stripped"
done
[[ "$(objdump -p "$root/usr/bin/quillon-tags" | grep NEEDED)" != *Qt* ]] || fail "quillon-tags links Qt"
# Hardened as Debian builds its packages: full RELRO and bind-now everywhere; the programs
# position-independent, with the stack protector and glibc's checked calls.
if [ "${2:-1}" = 1 ]; then
  for f in usr/bin/quillon usr/bin/quillon-tags "usr/lib/$multiarch/quillon/quillon-embed.so"; do
    dynamic=$(readelf -dW "$root/$f")
    grep -q 'BIND_NOW' <<<"$dynamic" || fail "/$f is not linked with -z now"
    readelf -lW "$root/$f" | grep -q GNU_RELRO || fail "/$f has no RELRO segment"
    [[ "$f" == *.so ]] && continue
    grep -qE 'FLAGS_1.* PIE' <<<"$dynamic" || fail "/$f is not position-independent"
    symbols=$(nm -D "$root/$f")
    grep -q ' U __stack_chk_fail' <<<"$symbols" || fail "/$f has no stack protector"
    [ "${3:-1}" = 0 ] || grep -qE ' U __[a-z0-9_]+_chk@' <<<"$symbols" ||
      fail "/$f calls no checked functions"
  done
fi
"$root/usr/bin/quillon-tags" --help >/dev/null || fail "quillon-tags --help"
"$root/usr/bin/quillon" --help >/dev/null || fail "quillon --help"
printf '\xff\xfb\x90\x64' >"$work/song.MP3"
head -c 413 /dev/zero >>"$work/song.MP3"
echo "not a picture" >"$work/cover.jpg"
if "$root/usr/bin/quillon-tags" embed "$work/song.MP3" "$work/cover.jpg" --tpic 2>"$work/err"; then
  fail "embedding a picture that is none succeeded"
fi
grep -q 'picture module' "$work/err" && fail "installed quillon-tags: $(cat "$work/err")"

desktop-file-validate "$root/usr/share/applications/quillon.desktop" ||
  fail "desktop entry invalid"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.quillon.Quillon.metainfo.xml" \
    >/dev/null || fail "metainfo invalid"
fi
if command -v lintian >/dev/null; then
  tags=$(lintian --fail-on none --display-info --pedantic "$deb" 2>/dev/null |
    grep -E '^[EW]:|^[IP]: .*hardening' || true)
  # Without optimisation glibc has no checked calls to use.
  [ "${3:-1}" = 1 ] || tags=$(grep -v 'hardening-no-fortify-functions' <<<"$tags" || true)
  [ -z "$tags" ] || fail "lintian: $tags"
fi
echo "package $(basename "$deb") ok"
