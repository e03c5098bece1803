#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/), seeds their corpora from the tests' byte
# builders and runs each target in turn, at the lowest priority.
#   tools/run-fuzz.sh [SECONDS_PER_TARGET [TARGET...]]     (default: 20 s, every target)
# QUILLON_FUZZ_RSS_MB sets libFuzzer's memory limit per input (default 3072; the ID3v2 reader keeps
# within 64 with its compressed frames).
# The corpora grow in build-fuzz/fuzz/corpus/<target> from run to run; an input that breaks a target
# is kept in build-fuzz/fuzz/findings/<target>/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
targets=(id3v2 id3v1 apev2 jpeg picture_payload codepage)
[ $# -gt 0 ] && targets=("$@")

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DQUILLON_BUILD_GUI=OFF -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF \
  -DQUILLON_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2 --target make_seeds "${targets[@]/#/fuzz_}"

cd build-fuzz/fuzz
rm -rf seeds
./make_seeds seeds
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
# Under a tight memory limit AddressSanitizer's quarantine of freed blocks (256 MB) would count
# against it, and so would freed memory it keeps: keep the one small and hand the other back.
[ -n "${QUILLON_FUZZ_RSS_MB:-}" ] && ASAN_OPTIONS+=":quarantine_size_mb=4:allocator_release_to_os_interval_ms=100"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
passed=0
for t in "${targets[@]}"; do
  mkdir -p "corpus/$t" "findings/$t"
  log="fuzz-$t.log"
  if nice -n 19 "./fuzz_$t" "corpus/$t" "seeds/$t" -max_total_time="$seconds" -timeout=30 \
      -rss_limit_mb="${QUILLON_FUZZ_RSS_MB:-3072}" -max_len=16384 -print_final_stats=1 \
      -artifact_prefix="findings/$t/" >"$log" 2>&1; then
    status=ok
    passed=$((passed + 1))
  else
    status=FAILED
    failed=$((failed + 1))
    tail -40 "$log"
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  echo "fuzz $t: $status, ${seconds}s, ${runs:-0} executions, cov ${cov:-?} ft ${ft:-?}, corpus ${corp:-?}"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
