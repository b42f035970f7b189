#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the panel need.
# Only missing packages are installed, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils pkgconf
  qt6-base-dev fonts-noto-cjk
  libgtest-dev libgmock-dev libbenchmark-dev
  libhdf5-dev hdf5-tools
  clang libclang-rt-14-dev
  xvfb xauth valgrind time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "error: these packages are missing and this is not root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
