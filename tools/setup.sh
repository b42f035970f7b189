#!/usr/bin/env bash
# Installs the Debian packages the project needs:
#   setup.sh        everything the tests need (the same as `setup.sh test`)
#   setup.sh run    only what building and running the panel needs
# Only missing packages are installed, so a second run costs nothing.
set -euo pipefail

# The panel carries its own font. xvfb-run is what tools/run.sh offers on a
# machine without a display.
run_packages=(
  cmake ninja-build g++ pkgconf
  qt6-base-dev libhdf5-dev
  xvfb xauth
)
# The system CJK faces are for the tests of the fallback and of the font
# subset script; binutils for the export and install checks.
test_packages=(
  "${run_packages[@]}" binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk python3 python3-fonttools
  hdf5-tools
  clang libclang-rt-14-dev lld
  valgrind time
  # The driver host and the simulated card built for 32-bit Windows, and
  # wine to run them (wine32 is an i386 package: see below).
  g++-mingw-w64-i686 wine wine32
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 64
    ;;
esac

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
if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
