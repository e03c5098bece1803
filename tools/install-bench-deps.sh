#!/usr/bin/env bash
# Installs (as root, from Debian 12's packages) what the benchmarks in bench/ need on top of
# tools/install-deps.sh: the encoder and taggers that make the corpus, and the peers they race.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh \
  lame sox libjpeg-turbo-progs \
  python3 python3-mutagen eyed3 id3v2 kid3-cli \
  libtag1-dev hyperfine time
