#!/usr/bin/env bash
# The test command: installs what the build needs (Debian packages) when it is
# missing, builds from scratch, and runs every test in the debug build and
# again under AddressSanitizer and UBSan. Safe to run twice.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev nasm lrzsz
          libunicorn-dev libserialport-dev zlib1g-dev qt6-base-dev)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
status=0
for preset in debug sanitize; do
  rm -rf "build/$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # The sanitizer pass leaves out the tests labelled slow: long waits for
  # time-outs that the debug pass has already run, and whose code the fast
  # tests cover too.
  filter=()
  [ "$preset" = sanitize ] && filter=(-LE slow)
  if ! ctest --preset "$preset" -j "$jobs" --timeout 600 "${filter[@]}"; then
    status=1
  fi
done
exit $status
