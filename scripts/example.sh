#!/usr/bin/env bash
# Sets everything up and runs Bundlex on the bundled example: the document is
# imported into a package, and that package exported again.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the program itself is built (no tests), in a folder of its own.
scripts/setup.sh --minimal --target bundlex build-example -DBUNDLEX_TESTS=OFF
OUT="${TMPDIR:-/tmp}/bundlex-example"
rm -rf "$OUT" && mkdir -p "$OUT"
cp -r examples/. "$OUT/"
cd "$OUT"
BIN="$OLDPWD/build-example/bundlex"
"$BIN" demo.xml demo.vlt
"$BIN" demo.vlt exported.xml
echo "Results are in $OUT"
