#!/usr/bin/env bash
# Builds and runs the libFuzzer targets of tests/fuzz/.
#   tools/fuzz.sh TARGET SECONDS   run one target (e.g. package, xml)
#   tools/fuzz.sh all SECONDS      run every target in turn, then print a summary
#   tools/fuzz.sh smoke SECONDS    as all, for CI: any finding fails the run; a fixed
#                                  seed, so that a run repeats the inputs it tried
# New inputs go to build-fuzz/corpus/<target> (seeded from the committed corpus,
# which is never written); crashes, leaks, timeouts and out-of-memory inputs go
# to build-fuzz/findings/<target>/. A finding is kept as a regression input
# under tests/data/fuzz/<target>/ once it is fixed. A target's dictionary,
# tests/fuzz/dict/<target>.dict, is used when there is one.
# FUZZ_SKIP_BUILD=1 runs what is built already (for two runs side by side).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

if [ $# -lt 2 ]; then
  echo "usage: tools/fuzz.sh TARGET|all|smoke SECONDS" >&2
  exit 2
fi
WHAT="$1"
SECONDS_EACH="$2"
BUILD="$ROOT/build-fuzz"

if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DBUNDLEX_FUZZ=ON -DBUNDLEX_TESTS=OFF >/dev/null
fi

targets=()
for src in tests/fuzz/fuzz_*.cpp; do
  t=$(basename "$src" .cpp)
  targets+=("${t#fuzz_}")
done
if [ "$WHAT" != all ] && [ "$WHAT" != smoke ]; then
  targets=("$WHAT")
fi

build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  cmake --build "$BUILD" -j"$(nproc)" "${build_targets[@]}" >/dev/null
fi

summary=()
failed=0
for t in "${targets[@]}"; do
  work="$BUILD/corpus/$t"
  findings="$BUILD/findings/$t"
  mkdir -p "$work" "$findings"
  seeds="$ROOT/tests/fuzz/corpus/$t"
  [ -d "$seeds" ] || mkdir -p "$seeds"
  dict=()
  seed=()
  [ "$WHAT" = smoke ] && seed=(-seed=1)
  [ -f "$ROOT/tests/fuzz/dict/$t.dict" ] && dict=(-dict="$ROOT/tests/fuzz/dict/$t.dict")
  log="$BUILD/fuzz_$t.log"
  before=$(find "$findings" -type f | wc -l)
  set +e
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz_$t" "$work" "$seeds" "${dict[@]}" "${seed[@]}" \
      -max_total_time="$SECONDS_EACH" -timeout=1 -rss_limit_mb=512 -malloc_limit_mb=512 \
      -artifact_prefix="$findings/" -print_final_stats=1 -close_fd_mask=1 >"$log" 2>&1
  rc=$?
  set -e
  after=$(find "$findings" -type f | wc -l)
  execs=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  new=$((after - before))
  status=ok
  if [ "$rc" -ne 0 ] || [ "$new" -gt 0 ]; then status="FINDING (see $log)"; failed=1; fi
  summary+=("$(printf '%-10s %8s exec/s  cov %6s  ft %7s  findings %d  %s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$new" "$status")")
  echo "${summary[-1]}"
done

if [ "${#targets[@]}" -gt 1 ]; then
  echo "---- summary ----"
  printf '%s\n' "${summary[@]}"
fi
exit $failed
