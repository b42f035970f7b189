#!/usr/bin/env bash
# Builds the panel for 64-bit Windows, with its 32-bit driver host and the
# simulated card, and packs it as build/windows/adcard-panel-win64.zip:
#
#   bash tools/windows/build.sh
#
# The dependencies come from tools/windows/deps.sh, built from source once
# (about 33 minutes on two cores) or, with ADPANEL_WIN_PREBUILT=DIR, unpacked
# from archives. Everything else goes into build/windows/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${ADPANEL_WIN_OUT:-$root/build/windows}
cmake_dir=${ADPANEL_WIN_CMAKE_DIR:-$out/cmake}
log() { echo "build.sh: $*" >&2; }

prefixes=$(bash "$here/deps.sh" --print-prefixes | tail -n 1)
IFS=';' read -r qt h5 fftw <<<"$prefixes"
need=()
for p in zip g++-mingw-w64-i686-posix nsis; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  log "installing ${need[*]}"
  as_root=(); [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${need[@]}" >&2
fi

cmake -G Ninja -S "$root" -B "$cmake_dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake" \
  "-DWIN_DEPS_PREFIXES=$prefixes" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DADPANEL_TESTS=OFF -DADPANEL_BENCH=OFF \
  -DADPANEL_WERROR="${ADPANEL_WERROR:-OFF}" >&2
cmake --build "$cmake_dir" --target adcard-panel adcard-review adcard_recorder adcard_windows ${ADPANEL_WIN_EXTRA_TARGETS:-} >&2

# The folder as it runs, then the archive of it.
pkg=$out/adcard-panel
rm -rf "$pkg" "$out/adcard-panel-win64.zip"
mkdir -p "$pkg/platforms" "$pkg/styles" "$pkg/sim"
cp "$cmake_dir/panel/adcard-panel.exe" "$cmake_dir/review_cli/adcard-review.exe" \
  "$cmake_dir/recording/adcard_recorder.dll" "$pkg/"
cp "$cmake_dir/windows/adcard-host.exe" "$pkg/"
cp "$cmake_dir/windows/adcard.dll" "$pkg/sim/"
cp "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$pkg/"
cp "$qt/plugins/platforms/qwindows.dll" "$pkg/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$pkg/styles/"
cp "$h5/bin/libhdf5.dll" "$pkg/"
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll zlib1.dll; do
  found=$(find "$gcc_dir" /usr/x86_64-w64-mingw32 -name "$dll" 2>/dev/null | head -n 1)
  [ -n "$found" ] || { log "no $dll (Debian packages g++-mingw-w64-x86-64-posix, libz-mingw-w64)"; exit 1; }
  cp "$found" "$pkg/"
done
find "$pkg" \( -name '*.exe' -o -name '*.dll' \) ! -path '*/sim/*' ! -name adcard-host.exe \
  -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
i686-w64-mingw32-strip --strip-unneeded "$pkg/adcard-host.exe" "$pkg/sim/adcard.dll"
cp "$root/panel/fonts/LICENSE" "$pkg/font-LICENSE.txt"
# FFTW is linked into adcard-review and the recorder module.
cp "$fftw/share/licenses/fftw3/COPYING" "$pkg/FFTW-COPYING.txt"
# Qt's libraries come under the LGPL 3 (Debian's copy of its text), HDF5's
# under its own BSD-style licence (Debian's record of the same version).
cp /usr/share/common-licenses/LGPL-3 "$pkg/Qt-LGPL-3.txt"
cp /usr/share/common-licenses/GPL-3 "$pkg/Qt-GPL-3.txt"
hdf5_copyright=$(ls /usr/share/doc/libhdf5-*/copyright 2>/dev/null | head -n 1)
[ -n "$hdf5_copyright" ] || { log "no HDF5 copyright file (Debian package libhdf5-dev)"; exit 1; }
cp "$hdf5_copyright" "$pkg/HDF5-COPYING.txt"
cp "$here/adcard-panel-sim.cmd" "$here/README-Windows.txt" "$pkg/"
sed -i 's/$/\r/' "$pkg/adcard-panel-sim.cmd" "$pkg/README-Windows.txt" "$pkg/font-LICENSE.txt" "$pkg/FFTW-COPYING.txt" \
  "$pkg/Qt-LGPL-3.txt" "$pkg/Qt-GPL-3.txt" "$pkg/HDF5-COPYING.txt"
(cd "$out" && zip -q -r -9 adcard-panel-win64.zip adcard-panel)
if command -v makensis >/dev/null; then
  makensis -V2 -DSRC="$pkg" -DOUT="$out/adcard-panel-win64-setup.exe" "$here/installer.nsi" >&2
fi
log "$(du -sk "$pkg" | cut -f1) KiB unpacked, $(($(stat -c %s "$out/adcard-panel-win64.zip") / 1024)) KiB zipped: $out/adcard-panel-win64.zip"
