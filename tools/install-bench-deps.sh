#!/usr/bin/env bash
# Installs (as root, from Debian 12's packages) what the benchmarks in bench/ need on top of
# tools/install-deps.sh: the encoder and taggers that make the corpus, and the peers they race.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
packages=(
  lame sox libjpeg-turbo-progs
  python3 python3-mutagen eyed3 id3v2 kid3-cli
  libtag1-dev hyperfine time
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
