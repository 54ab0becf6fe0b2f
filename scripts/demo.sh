#!/usr/bin/env bash
# The main job: an unattended burn and verify of an image into a simulated
# board, with its report. Builds what it needs when it is missing, starts
# selkan-sim, registers the components and workers into a private registry,
# runs the operator's program Ombra unattended (-av: identify, burn, verify,
# report, quit), prints the report, compares the simulator's flash with the
# image and stops the simulator. Safe to run twice.
#
#   scripts/demo.sh [IMAGE] [--baud RATE] [--flash MODEL]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${OMBRA_DEMO_BUILD:-$ROOT/build/demo}
RUN=$BUILD/run
# OMBRA_DEMO_RUN: an existing run folder to use as it is (the test suite's).
PREBUILT=${OMBRA_DEMO_RUN:-}
[ -n "$PREBUILT" ] && RUN=$PREBUILT

IMAGE="" BAUD=115200 FLASH=SST39LF/VF160
while [ $# -gt 0 ]; do
  case "$1" in
    --baud) BAUD=$2; shift 2 ;;
    --flash) FLASH=$2; shift 2 ;;
    -*) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
    *) IMAGE=$1; shift ;;
  esac
done

if [ -z "$PREBUILT" ]; then
  source "$ROOT/scripts/packages.sh"
  ombra_install_packages

  TARGETS=(selkan-sim regsvr SelkanBoot Burnix Wexom Tordel Quasp Lunet Ombra ombra_remote_programs)
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRA_TESTS=OFF \
      -DOMBRA_DIRS="platform;common;tools;sim;remote;selkanboot;burnix;chipfamily;workers;ombra" >/dev/null
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

# Private registry and profile: nothing of the user's is touched.
export OMBRA_REGISTRY_DIR=$WORK/registry
export OMBRA_MESSAGEBOX=no
mkdir -p "$OMBRA_REGISTRY_DIR"
for component in SelkanBoot Burnix; do
  "$RUN/regsvr" /s "$RUN/$component.so"
done
for worker in Wexom Tordel Quasp Lunet; do
  "$RUN/$worker" REGISTER || true  # REGISTER always ends with the failure code
done

if [ -z "$IMAGE" ]; then
  IMAGE=$WORK/image.bin
  head -c 65536 /dev/urandom >"$IMAGE"
fi
IMAGE=$(realpath "$IMAGE")

"$RUN/selkan-sim" --flash "$FLASH" --flash-file "$WORK/flash.bin" --quiet >"$WORK/port" &
SIM_PID=$!
for _ in $(seq 100); do
  [ -s "$WORK/port" ] && break
  sleep 0.1
done
PORT=$(head -n 1 "$WORK/port")
[ -n "$PORT" ] || { echo "demo.sh: selkan-sim did not start" >&2; exit 1; }
echo "Simulated board ($FLASH) on $PORT"

# The shipped C-bus table where the front end looks for it by default.
mkdir -p "$WORK/C_Bus_Table"
cp "$RUN/C_Bus_Table/C_Bus.txt" "$WORK/C_Bus_Table/C_Bus.txt"

# The operator's program, unattended: identify, burn and verify, report, quit.
# With a display it shows its window meanwhile; without one it runs offscreen.
echo "Ombra -av -s $PORT -b $BAUD -f $IMAGE -l $WORK/report.txt"
status=0
(cd "$WORK" && "$RUN/Ombra" -av -s "$PORT" -b "$BAUD" -f "$IMAGE" -l "$WORK/report.txt") || status=$?
echo
echo "Run report:"
if [ -f "$WORK/report.txt" ]; then
  tr -d '\r' <"$WORK/report.txt"; echo
else
  echo "  (none written)"; status=1
fi
echo

# The flash file is written when the simulator stops: compare it as a check
# independent of the programmer's own verification.
kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true; SIM_PID=""
size=$(stat -c %s "$IMAGE")
if [ -f "$WORK/flash.bin" ] && cmp -s -n "$size" "$IMAGE" "$WORK/flash.bin"; then
  echo "Flash contents: equal to the image ($size bytes)"
else
  echo "Flash contents: DIFFER from the image"
  status=1
fi
[ $status -eq 0 ] && echo "Result: passed" || echo "Result: FAILED"
exit $status
