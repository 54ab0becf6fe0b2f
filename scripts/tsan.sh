#!/usr/bin/env bash
# The threads check: builds everything with ThreadSanitizer (build/tsan) and
# runs the end-to-end and dialog tests under it; any data race fails the run.
# Run it by hand after a change to threads, pipes or the launcher:
#   scripts/tsan.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
ombra_install_packages

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)"
# The slow tests wait out time-outs; they add nothing a race needs.
exec ctest --preset tsan -j "$(nproc)" --timeout 900 -L 'e2e|gui' -LE slow "$@"
