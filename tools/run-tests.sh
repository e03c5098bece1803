#!/usr/bin/env bash
# Installs what is missing, checks the format, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/check-format.sh
bash tools/build.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)
# The package's programs as a packager builds them: GCC, Release.
bash tools/build-release.sh
# As root (as in CI), also install the Debian package with apt, check it and remove it again.
if [ "$(id -u)" -eq 0 ]; then
  bash tools/check-deb.sh
fi
# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of
# every fuzz target.
bash tools/run-sanitizers.sh
bash tools/run-fuzz.sh 20
