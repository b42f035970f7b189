#!/usr/bin/env bash
# Installs the Debian packages the project needs:
#   setup.sh        everything the tests need (the same as `setup.sh test`)
#   setup.sh run    only what building and running the panel needs
# Only missing packages are installed, so a second run costs nothing.
set -euo pipefail

# The panel carries its own font. xvfb-run is what tools/run.sh offers on a
# machine without a display; h5py reads a recording in the README's
# walk-through; Qt's own dialogs speak Chinese with qt6-translations-l10n;
# nlohmann's header reads the rules files.
run_packages=(
  cmake ninja-build g++ pkgconf
  qt6-base-dev libhdf5-dev libfftw3-dev qt6-translations-l10n
  nlohmann-json3-dev
  xvfb xauth
  python3-h5py
)
# The system CJK faces are for the tests of the fallback and of the font
# subset script; binutils for the export and install checks; xdotool presses
# the review window's keys in the Windows stage; ccache keeps
# the test command's compilations between runs.
# openbox frames the windows in the placement test, as a desktop does.
test_packages=(
  "${run_packages[@]}" binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk python3 python3-fonttools
  hdf5-tools
  clang libclang-rt-14-dev lld
  valgrind time
  g++-mingw-w64-i686
  ccache xdotool
  openbox
)
# Wine runs the Windows host and card (wine32 is an i386 package: see below),
# and wine64 the 64-bit panel of the Windows stage: Debian's `wine` is
# satisfied by wine32 alone. Where they cannot be installed, the tests that
# need them are skipped.
optional_test_packages=(wine wine64 wine32)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${test_packages[@]}" "${optional_test_packages[@]}") ;;
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
required=()
optional=()
for p in "${missing[@]}"; do
  if [[ " ${optional_test_packages[*]} " == *" $p "* ]]; then optional+=("$p"); else required+=("$p"); fi
done
if [ ${#required[@]} -gt 0 ]; then
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${required[@]}"
fi
if [ ${#optional[@]} -gt 0 ] &&
  ! "${as_root[@]}" apt-get install -y -q --no-install-recommends "${optional[@]}"; then
  echo "warning: could not install ${optional[*]}: the Windows host test and the Windows stage will be skipped" >&2
fi
