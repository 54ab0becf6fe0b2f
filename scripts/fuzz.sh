#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang in build/fuzz and runs
# each for SECONDS (default 60) or for N executions. Every crash, leak,
# time-out or sanitizer report fails the script; what the runs find stays in
# build/fuzz (grown corpora, artifacts, logs).
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [--runs N] [--only TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60 runs="" only=""
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --only) only=${2:?--only needs a target}; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) [[ $1 =~ ^[0-9]+$ ]] || { echo "fuzz.sh: unknown argument $1" >&2; exit 2; }
       seconds=$1; shift ;;
  esac
done
[ -z "$runs" ] || [[ $runs =~ ^[0-9]+$ ]] || { echo "fuzz.sh: --runs needs a number" >&2; exit 2; }

source scripts/packages.sh
ombra_install_packages

build=build/fuzz
export CCACHE_BASEDIR=$PWD
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Only the folders the targets link; no tests. -O1 keeps the runs fast and
# the reports readable.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DOMBRA_FUZZ=ON -DOMBRA_TESTS=OFF -DOMBRA_DIRS="platform;common;selkanboot;burnix;workers;ombra/core" >/dev/null
cmake --build "$build" --target ombra_fuzzers -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
limit=(-max_total_time="$seconds")
[ -n "$runs" ] && limit=(-runs="$runs")

status=0
failed=()
# The failures of the last run, for scripts/test.sh's summary.
rm -f "$build/failures.txt"
printf '%-28s %12s %8s %8s  %s\n' target executions seconds corpus result
for seeds in tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  bin=$build/fuzzers/$name
  [ -x "$bin" ] || { failed+=("$name: not built"); status=1; continue; }
  # The grown corpus comes first: libFuzzer writes only into the first
  # folder, so the seeds in the repository are read, never written.
  mkdir -p "$build/corpus/$name" "$build/artifacts/$name" "$build/logs"
  log=$build/logs/$name.log
  # The shipped driver files seed the driver-file reader as they stand.
  extra=()
  [ "$name" = fuzz_driver_ini ] && extra=(remote/drivers)
  start=$(date +%s)
  rc=0
  "$bin" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name/" "$build/corpus/$name" "$seeds" "${extra[@]}" >"$log" 2>&1 || rc=$?
  took=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  files=$(find "$build/corpus/$name" -type f | wc -l)
  result=ok
  # A report without a failing exit status still fails the run.
  if [ $rc -ne 0 ] || grep -qE '^==[0-9]+==ERROR|runtime error:|^SUMMARY: |ERROR: libFuzzer' "$log"; then
    result="FAILED (exit $rc, log $log)"
    failed+=("$name: $(grep -m1 -E 'ERROR|runtime error|check failed' "$log" || echo "exit $rc")")
    status=1
  fi
  printf '%-28s %12s %8s %8s  %s\n' "$name" "${execs:-?}" "$took" "$files" "$result"
done

if [ $status -ne 0 ]; then
  echo
  echo "Fuzzing found problems (inputs in $build/artifacts/):"
  printf '  %s\n' "${failed[@]}" | tee "$build/failures.txt"
fi
exit $status
