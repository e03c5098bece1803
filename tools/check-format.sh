#!/usr/bin/env bash
# Fails on a C or C++ file of the repository that clang-format would change (.clang-format
# decides). The version is pinned: another one formats some constructs differently.
# To mend a file: clang-format-14 -i FILE
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror
