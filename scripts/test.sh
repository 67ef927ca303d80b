#!/usr/bin/env bash
# Sets everything up and runs the whole test suite twice: a normal build and
# one under AddressSanitizer and UndefinedBehaviorSanitizer. Both must pass.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh build
(cd build && ctest --output-on-failure -j"$(nproc)")

scripts/setup.sh build-asan -DBUNDLEX_SANITIZE=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$(nproc)")

if [ -x tools/fuzz.sh ]; then
  tools/fuzz.sh smoke 20000
fi
echo "All tests passed."
