#!/usr/bin/env bash
# Installs what is missing, builds every configuration from scratch and runs every test:
# the native unit tests, the same under AddressSanitizer and UndefinedBehaviorSanitizer with
# the fuzz targets, the threaded USB link's tests under ThreadSanitizer, and the Windows
# programs under Wine on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

status=0
for preset in native sanitize tsan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done
cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/with-display.sh ctest --preset windows || status=1
exit $status
