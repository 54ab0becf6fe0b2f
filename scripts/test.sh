#!/usr/bin/env bash
# The test command: installs what the build needs (Debian packages) when it is
# missing, builds from scratch, and runs every test in the debug build, again
# under AddressSanitizer and UBSan, and in the release build (the optimised
# code runs to other timings). Safe to run twice.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
ombra_install_packages

jobs=$(nproc)
status=0
for preset in debug sanitize release; do
  rm -rf "build/$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # The sanitizer and release passes leave out the tests labelled slow: long
  # waits for time-outs that the debug pass has already run, and whose code
  # the fast tests cover too.
  filter=()
  [ "$preset" != debug ] && filter=(-LE slow)
  if ! ctest --preset "$preset" -j "$jobs" --timeout 600 "${filter[@]}"; then
    status=1
  fi
done
exit $status
