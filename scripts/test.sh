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

# The worker threads once under ThreadSanitizer, in a build of their own:
# the package manager's tests (compression and decoding on workers), the XML
# layer's (a large document read from two places at once) and the command
# tests, whose runs of bundlex use every processor.
unset ASAN_OPTIONS UBSAN_OPTIONS
scripts/setup.sh --target test_commands build-tsan -DBUNDLEX_TSAN=ON "${WERROR[@]}"
cmake --build build-tsan -j"$(nproc)" --target test_package
cmake --build build-tsan -j"$(nproc)" --target test_core
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
(cd build-tsan && ctest --output-on-failure -j"$(nproc)" -R '^(PackageJobs|Readers|XmlAccess)\.')
unset TSAN_OPTIONS

if [ -x tools/fuzz.sh ]; then
  tools/fuzz.sh smoke 15000
fi
echo "All tests passed."
