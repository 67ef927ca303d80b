#!/usr/bin/env bash
# Sets everything up and runs Bundlex on the bundled example: the document is
# imported into a package, and that package exported again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
OUT="${TMPDIR:-/tmp}/bundlex-example"
rm -rf "$OUT" && mkdir -p "$OUT"
cp -r examples/. "$OUT/"
cd "$OUT"
BIN="$OLDPWD/build/bundlex"
"$BIN" demo.xml demo.vlt
"$BIN" demo.vlt exported.xml
echo "Results are in $OUT"
