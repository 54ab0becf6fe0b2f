#!/usr/bin/env bash
# The main job: an unattended burn and verify of an image into a simulated
# board, with its report. Builds what it needs when it is missing, starts
# selkan-sim, registers the components and workers into a private registry,
# identifies, burns and verifies through the workers with ombra-cli, and
# stops the simulator. Safe to run twice.
#
#   scripts/demo.sh [IMAGE] [--baud RATE] [--programmer NAME] [--flash MODEL]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${OMBRA_DEMO_BUILD:-$ROOT/build/demo}
RUN=$BUILD/run
# OMBRA_DEMO_RUN: an existing run folder to use as it is (the test suite's).
PREBUILT=${OMBRA_DEMO_RUN:-}
[ -n "$PREBUILT" ] && RUN=$PREBUILT

IMAGE="" BAUD=115200 PROGRAMMER=SST FLASH=SST39LF/VF160
while [ $# -gt 0 ]; do
  case "$1" in
    --baud) BAUD=$2; shift 2 ;;
    --programmer) PROGRAMMER=$2; shift 2 ;;
    --flash) FLASH=$2; shift 2 ;;
    -*) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
    *) IMAGE=$1; shift ;;
  esac
done

if [ -z "$PREBUILT" ]; then
  PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev nasm zlib1g-dev libserialport-dev)
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

  TARGETS=(selkan-sim regsvr SelkanBoot Burnix Cobalt Nickel Copper Wexom Tordel Quasp Lunet ombra-cli ombra_remote_programs)
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF \
      -DOMBRA_DIRS="platform;common;tools;sim;remote;selkanboot;burnix;chipfamily;workers" >/dev/null
  fi
  ninja -C "$BUILD" -j "${OMBRA_JOBS:-2}" "${TARGETS[@]}" >/dev/null
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ombra-demo.XXXXXX")
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID"
    wait "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Private registry: nothing of the user's is touched.
export OMBRA_REGISTRY_DIR=$WORK/registry
export OMBRA_MESSAGEBOX=no
mkdir -p "$OMBRA_REGISTRY_DIR"
for component in SelkanBoot Burnix Cobalt Nickel Copper; do
  "$RUN/regsvr" /s "$RUN/$component.so"
done
for worker in Wexom Tordel Quasp Lunet; do
  "$RUN/$worker" REGISTER || true  # REGISTER always ends with the failure code
done

if [ -z "$IMAGE" ]; then
  IMAGE=$WORK/image.bin
  head -c 65536 /dev/urandom >"$IMAGE"
fi

"$RUN/selkan-sim" --flash "$FLASH" --flash-file "$WORK/flash.bin" --quiet >"$WORK/port" &
SIM_PID=$!
for _ in $(seq 100); do
  [ -s "$WORK/port" ] && break
  sleep 0.1
done
PORT=$(head -n 1 "$WORK/port")
[ -n "$PORT" ] || { echo "demo.sh: selkan-sim did not start" >&2; exit 1; }
echo "Simulated board ($FLASH) on $PORT"
echo

status=0
"$RUN/ombra-cli" burn --port "$PORT" --image "$IMAGE" --verify --programmer "$PROGRAMMER" --baud "$BAUD" || status=$?

# The flash file is written when the simulator stops: compare it as a check
# independent of the programmer's own verification.
kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true; SIM_PID=""
size=$(stat -c %s "$IMAGE")
if [ -f "$WORK/flash.bin" ] && cmp -s -n "$size" "$IMAGE" "$WORK/flash.bin"; then
  echo "  flash contents: equal to the image ($size bytes)"
else
  echo "  flash contents: DIFFER from the image"
  status=1
fi
exit $status
