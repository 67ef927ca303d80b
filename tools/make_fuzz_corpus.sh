#!/usr/bin/env bash
# Remakes the committed seed corpora of the fuzz targets,
# tests/fuzz/corpus/<target>/, from resources made with the SDK and the
# project's test data and example (see tools/make_fuzz_corpus.cpp for the
# form each target reads). Files of a target's folder that the generator
# does not make (inputs added by hand) are kept.
#   tools/make_fuzz_corpus.sh [build-dir]    (default: build-fuzz, the fuzz build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build-fuzz}"
cmake -S . -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target make_fuzz_corpus >/dev/null
"$BUILD/make_fuzz_corpus" "$PWD" "$PWD/tests/fuzz/corpus"
du -sh tests/fuzz/corpus/* | sed 's/^/  /'
