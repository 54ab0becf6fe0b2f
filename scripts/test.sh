#!/usr/bin/env bash
# The test command: installs what the build needs (Debian packages) when it is
# missing, builds from scratch, and runs every test under AddressSanitizer and
# UBSan (a debug build: assertions on) and in the release build (the
# optimised code runs to other timings), then runs every fuzz target for a
# few seconds.
# Safe to run twice.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
ombra_install_packages

jobs=$(nproc)
status=0
failed=()
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# The last lines each failed test printed, from ctest's own log.
tail_of_failures() {
  local preset=$1 list=$2 number name
  while IFS=: read -r number name; do
    echo "---- $preset: $name"
    awk -v want="$name" '
      $0 ~ /^[0-9]+\/[0-9]+ Testing: / { sub(/^[0-9]+\/[0-9]+ Testing: /, ""); on = ($0 == want); next }
      on && /^<end of output>/ { on = 0 }
      on' "build/$preset/Testing/Temporary/LastTest.log" | tail -n 40
  done <"$list"
}
for preset in sanitize release; do
  rm -rf "build/$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # The sanitizer pass leaves out the tests labelled slow: long waits for
  # time-outs, which the release pass runs, and whose code the fast tests
  # cover too.
  filter=()
  [ "$preset" = sanitize ] && filter=(-LE slow)
  if ! ctest --preset "$preset" -j "$jobs" --timeout 600 "${filter[@]}"; then
    status=1
    log="build/$preset/Testing/Temporary/LastTestsFailed.log"
    if [ -f "$log" ]; then
      while read -r line; do failed+=("$preset: $line"); done <"$log"
      tail_of_failures "$preset" "$log" >>"$summary"
    else
      failed+=("$preset: ctest failed")
    fi
  fi
done
# A few seconds of every fuzz target (clang build in build/fuzz), its
# failure counted like a failed pass.
if ! scripts/fuzz.sh 3; then
  status=1
  failed+=("fuzz: scripts/fuzz.sh 3 failed (inputs in build/fuzz/artifacts, logs in build/fuzz/logs)")
  if [ -f build/fuzz/failures.txt ]; then
    { echo "---- fuzz"; cat build/fuzz/failures.txt; } >>"$summary"
  fi
fi
# Whoever reads only the end of a long log still learns what failed where.
if [ $status -ne 0 ]; then
  echo
  cat "$summary"
  echo "Failed tests:"
  printf '  %s\n' "${failed[@]}"
fi
exit $status
