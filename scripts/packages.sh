# The Debian packages both README commands need, and their install when
# missing. Sourced by scripts/test.sh, scripts/demo.sh and scripts/fuzz.sh
# (clang and its libFuzzer runtime build the fuzz targets).
OMBRA_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev nasm lrzsz
                libunicorn-dev libserialport-dev zlib1g-dev qt6-base-dev
                xvfb xauth libssl-dev nlohmann-json3-dev
                clang libclang-rt-14-dev)

ombra_install_packages() {
  local missing=() p
  for p in "${OMBRA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
