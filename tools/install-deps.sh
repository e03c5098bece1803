#!/usr/bin/env bash
# Installs (as root, from Debian 12's packages) whatever the build, the editor and the tests need
# and the machine does not have yet. Extra package names given as arguments join the list.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config ccache
  qt6-base-dev libgl-dev libjpeg62-turbo-dev libfontconfig-dev zlib1g-dev
  libgtest-dev googletest
  fonts-wqy-zenhei qt6-translations-l10n
  xvfb xauth xdotool x11-utils
  desktop-file-utils appstream xdg-utils dpkg-dev file lintian
  man-db groff-base bsdextrautils
  clang-14 libclang-rt-14-dev clang-format-14
  python3-mutagen eyed3 id3v2 kid3-cli libtag1-dev ffmpeg
  strace unicode-data python3-jieba hunspell-ko hunspell-ru python3 xfsprogs
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
