#!/usr/bin/env bash
# Configures and builds everything into build/, warnings as errors (QUILLON_WERROR=OFF in the
# environment builds on through them, as the project's default does).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_WERROR="${QUILLON_WERROR:-ON}" >/dev/null
cmake --build build
