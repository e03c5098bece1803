#!/usr/bin/env bash
# Runs every benchmark side by side with its peers and prints the table of medians and ratios
# (the one in README.md, "Performance"). As root on Debian 12:
#   bash bench/run-bench.sh [CORPUS_DIR] [options of bench/run_bench.py, e.g. --rounds 5]
# Installs the peers, builds, makes the corpus once (bench/make-corpus.sh), then measures. Runs at
# low priority: on a shared machine the ratios hold better than the absolute times.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=/tmp/quillon-corpus
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  corpus="$1"
  shift
fi
bash tools/install-bench-deps.sh
nice -n 19 bash tools/build.sh
nice -n 19 bash bench/make-corpus.sh "$corpus"
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/Mem:/{print $2}') GiB" \
  "memory, corpus on $(df -T "$corpus" | awk 'NR==2{print $2 " (" $1 ")"}')"
exec nice -n 19 /usr/bin/python3 bench/run_bench.py --build build --corpus "$corpus" "$@"
