#!/usr/bin/env bash
# Line coverage of the SDK and the converter by the whole test suite.
#   scripts/coverage.sh [build-dir]      (default: build-cov)
# Installs gcovr if missing, builds what CTest runs with --coverage and no
# optimisation, runs every test, then prints the covered lines of sdk/ and
# converter/ (tests, tools and fuzz targets are not counted). The per-file
# report, with the lines left uncovered, is written to <build-dir>/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v gcovr >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: gcovr"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends gcovr >/dev/null
fi

BUILD="${1:-build-cov}"
scripts/setup.sh --target test_programs "$BUILD" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage

# Counters of an earlier run would add up with this one's.
find "$BUILD" -name '*.gcda' -delete
# A failing test still leaves its coverage; the result is reported at the end.
status=0
(cd "$BUILD" && ctest --output-on-failure -j2) || status=$?

gcovr --root . --filter 'sdk/' --filter 'converter/' -j2 --gcov-ignore-parse-errors \
  --txt "$BUILD/coverage.txt" --print-summary "$BUILD" | grep -E '^lines:'
if [ "$status" -ne 0 ]; then
  echo "Some tests failed (ctest exit $status): the figure above is not the suite's."
fi
exit "$status"
