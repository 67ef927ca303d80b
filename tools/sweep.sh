#!/usr/bin/env bash
# Real-world sweep: runs every PNG, BMP, WAV, Ogg, AIFF, VOC, tracker module
# (MOD, XM, S3M, IT) and MIDI file under DIR through every document element
# that takes it, round trip included, and reports crashes, sanitizer reports,
# hangs, failed commands, console warnings and round-trip differences.
#
#   tools/sweep.sh [--ci] [--bundlex PATH] [--helper PATH] [--out DIR] [--jobs N] [--timeout S] [--keep] DIR
#
# --bundlex   the bundlex to test (or $BUNDLEX); default build-asan/bundlex,
#             the sanitizer build (scripts/setup.sh build-asan -DBUNDLEX_SANITIZE=ON)
# --helper    the image compare helper sweep_image (or $SWEEP_IMAGE); default
#             beside the bundlex
# --out       where the work folders and faults.tsv go (default /tmp/bundlex-sweep)
# --jobs      files run in parallel, 1 or 2 (default 2)
# --timeout   seconds after which a command counts as hung (default 60): a
#             hang detector only
# --ci        no re-run of failing files element by element (quicker; the
#             failing step is named, the element kind only for round trips);
#             exit 1 when any crash, sanitizer report, hang, round-trip
#             difference or rewrite by a no-op update was found, and end with an "N passed, N failed" line
#             (files); the results do not depend on time, only the hang
#             timeout does
# --keep      keep the work folders of files without faults too
#
# Per file, in its own work folder: doc.xml (all elements) is imported into
# p1.vlt, exported to e1.xml, imported into p2.vlt, exported to e2.xml, and
# --verify and --check run on both packages; p1.vlt is also updated from the
# untouched e1.xml, which must add and replace nothing and leave its bytes
# and modification time as they were. A PNG or BMP named font* is a font
# strip and goes in as a font too. Failing files are run again one element
# per document. Media: tools/gather_media.sh.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
CI=0 KEEP=() OUT=/tmp/bundlex-sweep JOBS=2 TIMEOUT=60
BUNDLEX=${BUNDLEX:-$HERE/../build-asan/bundlex}
HELPER=${SWEEP_IMAGE:-}
while [ $# -gt 1 ]; do
  case "$1" in
    --ci) CI=1; shift ;;
    --keep) KEEP=(--keep); shift ;;
    --bundlex) BUNDLEX=$2; shift 2 ;;
    --helper) HELPER=$2; shift 2 ;;
    --out) OUT=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    *) echo "sweep.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: $0 [--ci] [--bundlex PATH] [--helper PATH] [--out DIR] [--jobs N] [--timeout S] [--keep] DIR" >&2; exit 2; }
HELPER=${HELPER:-$(dirname "$BUNDLEX")/sweep_image}
for exe in "$BUNDLEX" "$HELPER"; do
  [ -x "$exe" ] || { echo "sweep.sh: $exe is not built" >&2; exit 2; }
done
mkdir -p "$OUT"
args=(--bundlex "$BUNDLEX" --helper "$HELPER" --out "$OUT" --jobs "$JOBS" --timeout "$TIMEOUT" "${KEEP[@]}")
[ $CI -eq 1 ] && args+=(--ci)
exec python3 "$HERE/sweep.py" "${args[@]}" "$1"
