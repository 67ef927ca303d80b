#!/usr/bin/env bash
# Sets everything up and runs the whole test suite twice: a normal build and
# one under AddressSanitizer and UndefinedBehaviorSanitizer. Both must pass.
# Then every fuzz target runs a fixed number of inputs (the same inputs on
# every machine; any finding fails). Only what the tests run is built.
set -euo pipefail
cd "$(dirname "$0")/.."

# CI sets BUNDLEX_WERROR=ON: there a compiler warning fails the build.
WERROR=(-DBUNDLEX_WERROR="${BUNDLEX_WERROR:-OFF}")

scripts/setup.sh --target test_programs build "${WERROR[@]}"
(cd build && ctest --output-on-failure -j"$(nproc)")

scripts/setup.sh --target test_programs build-asan -DBUNDLEX_SANITIZE=ON "${WERROR[@]}"
# Any sanitizer report fails its test: ASan aborts on the first error, UBSan
# halts, leaks fail the process at exit.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$(nproc)")

if [ -x tools/fuzz.sh ]; then
  tools/fuzz.sh smoke 15000
fi
echo "All tests passed."
