#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run. Idempotent: does
# nothing when all are present. Uses sudo when not run as root.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  libembree-dev libassimp-dev libcgal-dev libnanoflann-dev
  libcli11-dev nlohmann-json3-dev libpng-dev libstb-dev
  qt6-base-dev xvfb xauth shared-mime-info
  ffmpeg
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed
  libtbb-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
