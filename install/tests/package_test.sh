#!/usr/bin/env bash
# The Debian package, two ways:
#   package_test.sh staged BUILD   unpacked into a scratch root, its maintainer
#                                  scripts run there; a second home burns
#                                  through the shared machine hives; removal
#                                  and purge leave nothing (any machine)
#   package_test.sh system BUILD   apt-get install ./ombra_*.deb for real, a
#                                  throw-away operator burns with it, purge
#                                  leaves nothing: root on a throw-away
#                                  machine only (CI=true or OMBRA_PACKAGE_TEST=1);
#                                  skipped (status 77) elsewhere
set -uo pipefail
MODE=$1
BUILD=$2
SKIP=77
WORK=$(mktemp -d "${TMPDIR:-/tmp}/ombra-package.XXXXXX")
SIM_PID=""
USER_MADE=""
failures=0

cleanup() {
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null
  [ -n "$USER_MADE" ] && userdel -r "$USER_MADE" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit $SKIP; }

if [ "$MODE" = system ]; then
  if [ "$(id -u)" -ne 0 ] || { [ "${CI:-}" != true ] && [ "${OMBRA_PACKAGE_TEST:-}" != 1 ]; }; then
    echo "SKIPPED: installs the package machine-wide; runs only as root on a throw-away machine (CI=true or OMBRA_PACKAGE_TEST=1)"
    exit $SKIP
  fi
  if [ -e /opt/ombra ] || [ -e /var/lib/ombra ] || dpkg -s ombra >/dev/null 2>&1; then
    echo "SKIPPED: this machine already has an Ombra installation, which the test would remove"
    exit $SKIP
  fi
  command -v apt-get >/dev/null && command -v useradd >/dev/null && command -v runuser >/dev/null ||
    { echo "SKIPPED: apt-get, useradd or runuser missing"; exit $SKIP; }
fi

# The package, made from the build as `--target package` makes it.
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log"; echo "FAIL: cpack"; exit 1; }
DEB=$(ls "$WORK"/out/ombra_*.deb)
echo "package: $(basename "$DEB")"

# burn AS_USER HOME OPT REGISTRY: the operator's unattended burn and verify
# of a random image with the installed Ombra on the installed simulator, from
# the installation folder as the menu entry starts it.
burn() {
  local as=$1 home=$2 opt=$3 registry=$4
  local run=(env HOME="$home" OMBRA_MACHINE_REGISTRY_DIR="$registry" OMBRA_MESSAGEBOX=no QT_QPA_PLATFORM=offscreen)
  [ "$as" != "" ] && run=(runuser -u "$as" -- "${run[@]}")
  local files=$home/burn
  "${run[@]}" mkdir -p "$files"
  "${run[@]}" sh -c "head -c 65536 /dev/urandom >'$files/image.bin'"
  "${run[@]}" "$opt/selkan-sim" --flash SST39LF/VF160 --flash-time-scale 0 --flash-file "$files/flash.bin" --quiet \
    >"$WORK/port" 2>"$WORK/sim.err" &
  SIM_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
  local port
  port=$(head -n 1 "$WORK/port")
  [ -n "$port" ] || { fail "selkan-sim did not start: $(cat "$WORK/sim.err")"; return; }
  (cd "$opt" && "${run[@]}" "$opt/Ombra" -s "$port" -b 460800 -f "$files/image.bin" -l "$files/report.txt" -av) \
    >"$WORK/ombra.log" 2>&1 || fail "Ombra -av ended with $? ($(tail -3 "$WORK/ombra.log"))"
  kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=""
  local report
  report=$(cat "$files/report.txt" 2>/dev/null)
  case "$report" in
    *" * Detected flash type : SST SST39LF/VF160 "*) ;;
    *) fail "the report has no detected flash: $report" ;;
  esac
  case "$report" in
    *"Could not open cbus file"*) fail "the installed C-bus file was not found: $report" ;;
  esac
  local ending
  ending=$(printf ' * Result: \n\tOK')
  case "$report" in
    *"$ending") ;;
    *) fail "the report does not end in OK: $report" ;;
  esac
  cmp -s -n 65536 "$files/image.bin" "$files/flash.bin" || fail "the flash differs from the image"
}

if [ "$MODE" = staged ]; then
  ROOT=$WORK/root
  dpkg-deb -x "$DEB" "$ROOT"
  dpkg-deb -e "$DEB" "$WORK/control"
  export OMBRA_PACKAGE_ROOT=$ROOT
  unset OMBRA_REGISTRY_DIR
  REG=$ROOT/var/lib/ombra/registry
  OPT=$ROOT/opt/ombra
  mkdir -p "$WORK/installer" "$WORK/operator"
  HOME=$WORK/installer "$WORK/control/postinst" configure || fail "postinst configure"
  check "the shared folder is setgid and group-writable" [ "$(stat -c %a "$REG")" = 2775 ]
  if [ "$(id -u)" -eq 0 ] && getent group dialout >/dev/null; then
    check "the shared folder belongs to group dialout" [ "$(stat -c %G "$REG")" = dialout ]
    check "the machine hive belongs to group dialout" [ "$(stat -c %G "$REG/HKEY_LOCAL_MACHINE.reg")" = dialout ]
  fi
  check "the machine hive is group-writable" [ "$(stat -c %a "$REG/HKEY_LOCAL_MACHINE.reg")" = 664 ]
  grep -q "\"Tordel\"=\"$OPT/Tordel\"" "$REG/HKEY_LOCAL_MACHINE.reg" || fail "Tordel is not registered"
  grep -q "@=\"$OPT/Burnix.so\"" "$REG/HKEY_CLASSES_ROOT.reg" || fail "Burnix is not registered"
  check "nothing in the installing user's folder" [ ! -e "$WORK/installer/.local/share/ombra/registry/HKEY_LOCAL_MACHINE.reg" ]
  check "the menu entry" grep -q '^Exec=/opt/ombra/Ombra$' "$ROOT/usr/share/applications/ombra.desktop"

  # Another user (another home) burns through what the first one registered.
  burn "" "$WORK/operator" "$OPT" "$REG"
  check "the operator's own hive is in his home" [ -e "$WORK/operator/.local/share/ombra/registry/HKEY_CURRENT_USER.reg" ]
  grep -q 'Comm' "$REG/HKEY_LOCAL_MACHINE.reg" || fail "the port settings are not in the shared machine hive"

  "$WORK/control/prerm" remove || fail "prerm remove"
  grep -q 'Tarvik\.' "$REG/HKEY_CLASSES_ROOT.reg" && fail "components still registered after removal"
  grep -q 'Locations\|Programmers' "$REG/HKEY_LOCAL_MACHINE.reg" && fail "workers or programmers still listed after removal"
  "$WORK/control/postrm" purge || fail "postrm purge"
  check "purge removes the shared hives" [ ! -e "$ROOT/var/lib/ombra" ]
else
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB" >"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log"; echo "FAIL: apt-get install"; exit 1; }
  check "the shared folder" [ "$(stat -c '%a %G' /var/lib/ombra/registry)" = "2775 dialout" ]
  check "the menu entry" [ -e /usr/share/applications/ombra.desktop ]
  USER_MADE=ombra-op-$$
  useradd -m -G dialout "$USER_MADE" || fail "useradd"
  burn "$USER_MADE" "$(getent passwd "$USER_MADE" | cut -d: -f6)" /opt/ombra ""
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ombra >>"$WORK/apt.log" 2>&1 || fail "apt-get purge"
  for left in /opt/ombra /var/lib/ombra /usr/share/applications/ombra.desktop; do
    check "purge leaves no $left" [ ! -e "$left" ]
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package $MODE: all checks passed"
