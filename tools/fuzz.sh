#!/usr/bin/env bash
# Builds and runs the libFuzzer targets of tests/fuzz/.
#   tools/fuzz.sh TARGET SECONDS   run one target for a time (e.g. package, xml)
#   tools/fuzz.sh all SECONDS      run every target in turn for a time, then print a summary
#   tools/fuzz.sh smoke RUNS       for CI: every target in turn on its committed seeds,
#                                  then RUNS mutated inputs, from a fixed seed and an
#                                  empty work corpus, so that every machine tries the
#                                  same inputs however fast it is; any finding fails
#                                  the run
# Timed runs add their new inputs to build-fuzz/corpus/<target> (seeded from the
# committed corpus, which is never written); crashes, leaks, timeouts and
# out-of-memory inputs go to build-fuzz/findings/<target>/. A finding is kept as
# a regression input under tests/data/fuzz/<target>/ once it is fixed. A
# target's dictionary, tests/fuzz/dict/<target>.dict, is used when there is one.
# FUZZ_SKIP_BUILD=1 runs what is built already (for two runs side by side).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

if [ $# -lt 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: tools/fuzz.sh TARGET|all SECONDS, or tools/fuzz.sh smoke RUNS" >&2
  exit 2
fi
WHAT="$1"
AMOUNT="$2"
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

# The number at the end of the last match of a pattern in a log; empty when
# there is none (a run that stopped on its first input prints no coverage).
last_number() { { grep -o "$1" "$2" || true; } | tail -1 | grep -o '[0-9]*$' || true; }

summary=()
failed=0
for t in "${targets[@]}"; do
  work="$BUILD/corpus/$t"
  findings="$BUILD/findings/$t"
  seeds="$ROOT/tests/fuzz/corpus/$t"
  [ -d "$seeds" ] || mkdir -p "$seeds"
  if [ "$WHAT" = smoke ]; then
    # Only the committed seeds: inputs kept by earlier runs would change what
    # the fixed seed leads to. Nothing that depends on the clock or on the
    # process's addresses may steer the mutations either: no timed reload of
    # the corpus, and no words taken from compared operands (they include
    # pointers, which differ with address randomisation and with the length
    # of the environment). The time limit per input only catches a hang.
    work="$BUILD/smoke-corpus/$t"
    rm -rf "$work"
    nseeds=$(find "$seeds" -type f | wc -l)
    bound=(-seed=1 -runs=$((nseeds + AMOUNT)) -reload=0 -use_cmp=0 -timeout=60)
  else
    bound=(-max_total_time="$AMOUNT" -timeout=1)
  fi
  mkdir -p "$work" "$findings"
  dict=()
  [ -f "$ROOT/tests/fuzz/dict/$t.dict" ] && dict=(-dict="$ROOT/tests/fuzz/dict/$t.dict")
  log="$BUILD/fuzz_$t.log"
  before=$(find "$findings" -type f | wc -l)
  set +e
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz_$t" "$work" "$seeds" "${dict[@]}" "${bound[@]}" \
      -rss_limit_mb=512 -malloc_limit_mb=512 \
      -artifact_prefix="$findings/" -print_final_stats=1 -close_fd_mask=1 >"$log" 2>&1
  rc=$?
  set -e
  after=$(find "$findings" -type f | wc -l)
  runs=$(last_number 'stat::number_of_executed_units: *[0-9]*' "$log")
  execs=$(last_number 'stat::average_exec_per_sec: *[0-9]*' "$log")
  cov=$(last_number 'cov: [0-9]*' "$log")
  ft=$(last_number 'ft: [0-9]*' "$log")
  new=$((after - before))
  status=ok
  if [ "$rc" -ne 0 ] || [ "$new" -gt 0 ]; then status="FINDING (see $log)"; failed=1; fi
  # The smoke run prints only what every machine repeats (no speed).
  speed="$(printf '%8s exec/s' "${execs:-?}")"
  [ "$WHAT" = smoke ] && speed=""
  summary+=("$(printf '%-10s %8s runs %s  cov %6s  ft %7s  findings %d  %s' "$t" "${runs:-?}" "$speed" \
    "${cov:-?}" "${ft:-?}" "$new" "$status")")
  echo "${summary[-1]}"
done

if [ "${#targets[@]}" -gt 1 ]; then
  echo "---- summary ----"
  printf '%s\n' "${summary[@]}"
fi
exit $failed
