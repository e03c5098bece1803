#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer (g++, build-asan/) and
# runs them. Any report ends the test that made it, so a finding fails the run.
# The install-tree check is left out: it packages files and runs no code of ours under test.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DQUILLON_BUILD_BENCH=OFF -DQUILLON_WERROR=ON >/dev/null
cmake --build build-asan -j2
# The tests that preload a tracing or fault-injecting library of their own (plain C, built
# without the sanitizers) put it in front of the sanitizer's runtime; that order is intended.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Qt and fontconfig keep caches for the life of the process on purpose; only our leaks count.
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
cd build-asan
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 -LE install
