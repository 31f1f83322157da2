#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for a given
# time, one after another, starting from its seeds under fuzz/corpus/.
#
#   fuzz/run-all.sh [seconds per target, default 30] [target ...]
#
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS
# (targets run at the same time, default 1).
# New inputs the fuzzer finds go to $FUZZ_BUILD/corpus/<target>/, the input
# of a failure to $FUZZ_BUILD/artifacts/. Prints the executions of each
# target; the exit status is not 0 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
shift || true
BUILD=${FUZZ_BUILD:-build-fuzz}
JOBS=${FUZZ_JOBS:-1}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DTARVOK_FUZZ=ON \
    -DTARVOK_BUILD_TESTS=OFF -DTARVOK_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)" --target fuzzers

TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  for d in fuzz/corpus/*/; do TARGETS+=("$(basename "$d")"); done
fi

mkdir -p "$BUILD/artifacts" "$BUILD/logs"
run_one() {
  local t=$1
  mkdir -p "$BUILD/corpus/$t"
  # Each target gets its own time; a failure stops it and keeps its input.
  if "$BUILD/fuzz/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$BUILD/artifacts/$t-" "$BUILD/corpus/$t" "fuzz/corpus/$t" >"$BUILD/logs/$t.log" 2>&1; then
    status=ok
  else
    status=FAILED
  fi
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$BUILD/logs/$t.log" | tail -1)
  printf '%-26s %-6s %12s executions in %ss\n' "$t" "$status" "${execs:-?}" "$SECONDS_EACH"
  if [ "$status" != ok ]; then
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$BUILD/logs/$t.log" | head -20 >&2 || true
    return 1
  fi
}

failed=0
running=0
for t in "${TARGETS[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
