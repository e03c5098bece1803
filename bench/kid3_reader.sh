#!/usr/bin/env bash
# The kid3-cli peer of the tag benchmarks: one kid3-cli process prints the three tags of every
# file given (which must all lie in one folder), going from file to file with "select".
set -euo pipefail
args=()
for f in "$@"; do
  args+=(-c "select none" -c "select $(basename "$f")" -c "get all 123")
done
exec kid3-cli "${args[@]}" "$(dirname "$1")"
