#!/usr/bin/env bash
# Makes Qt 6 (qtbase), HDF5's C library and FFTW 3 for 64-bit Windows available to the Windows build, in a
# cache folder outside the clone, one folder per library and version:
#
#   bash tools/windows/deps.sh [--prebuilt DIR] [--print-prefixes]
#
# - From source (the default): Debian's own source packages (apt-get source qt6-base hdf5), cross-built with
#   Debian's mingw-w64 (x86_64, posix threads). About 33 minutes on two cores, once (Qt 27, HDF5 and FFTW 6).
# - --prebuilt DIR (or ADPANEL_WIN_PREBUILT=DIR): unpack qt-6.4.2-mingw64.tar.xz and
#   hdf5-1.10.8-mingw64.tar.xz from DIR instead, archives made the same way.
# - FFTW (double precision, static, SSE2) is always built from Debian's source package (apt-get source
#   fftw3), with or without --prebuilt, in a minute or two on two cores.
#
# The cache is ADPANEL_WIN_DEPS (default ~/.cache/adcard-win-deps). A folder counts as built only when its
# stamp names the same library version, source package and toolchain as this script would use; a
# half-built, mismatched or unstamped folder is removed and made again, never trusted.
# --print-prefixes prints the CMake list of the three folders (Qt, HDF5, FFTW) on the last line (for
# WIN_DEPS_PREFIXES).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cache=${ADPANEL_WIN_DEPS:-${HOME:-/root}/.cache/adcard-win-deps}
prebuilt=${ADPANEL_WIN_PREBUILT:-}
print_prefixes=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prebuilt) prebuilt=${2:?--prebuilt needs a folder}; shift 2 ;;
    --prebuilt=*) prebuilt=${1#--prebuilt=}; shift ;;
    --print-prefixes) print_prefixes=1; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "deps.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done

qt_version=6.4.2
h5_version=1.10.8
fftw_version=3.3.10
qt=qt-$qt_version-mingw64
h5=hdf5-$h5_version-mingw64
fftw=fftw-$fftw_version-mingw64
# FFTW as the query engine needs it: double precision only, a static library linked into each program (no
# DLL to ship), no threads. SSE2 but not AVX: GCC for 64-bit Windows spills AVX registers with aligned moves
# to a stack it can only align to 16 bytes (GCC bug 54412), a fault that comes and goes with the stack's
# phase on Windows and never shows under wine. Its own aligned malloc, as mingw has none it knows.
fftw_flags="--enable-static --disable-shared --enable-sse2 --with-our-malloc --disable-fortran --disable-doc"
fftw_flags+=" --disable-threads"
toolchain=$root/cmake/mingw64.cmake
log() { echo "deps.sh: $*" >&2; }

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  "${as_root[@]}" apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

# What a folder must have been made from. The compiler's version is part of it: a new mingw-w64 makes
# a new C++ runtime, which the libraries must match.
mingw_version() { x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo none; }
key_for() { # name version origin
  printf '%s %s\norigin %s\nmingw %s\ntoolchain %s\n' "$1" "$2" "$3" "$(mingw_version)" \
    "$(sha256sum "$toolchain" | cut -c1-16)"
}
is_ready() { # folder key probe-file
  [ -f "$1/.adcard-stamp" ] && [ "$(cat "$1/.adcard-stamp")" = "$2" ] && [ -f "$1/$3" ]
}

need_packages cmake ninja-build xz-utils g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  mingw-w64-tools libz-mingw-w64-dev qt6-base-dev qt6-base-dev-tools
mkdir -p "$cache"

enable_sources() {
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "adding deb-src beside the deb sources"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${as_root[@]}" tee /etc/apt/sources.list.d/adcard-deb-src.sources >/dev/null
    "${as_root[@]}" apt-get update -q >&2
  fi
}

if [ -n "$prebuilt" ]; then
  for a in "$prebuilt/$qt.tar.xz" "$prebuilt/$h5.tar.xz"; do
    [ -f "$a" ] || { log "no archive '$a'"; exit 2; }
  done
  qt_origin="prebuilt $(sha256sum "$prebuilt/$qt.tar.xz" | cut -c1-16)"
  h5_origin="prebuilt $(sha256sum "$prebuilt/$h5.tar.xz" | cut -c1-16)"
else
  # The versions Debian's source packages give; built from another version, the folder is not the one
  # asked for, so it is refused rather than stamped.
  enable_sources
  qt_origin="source qt6-base $(apt-cache showsrc qt6-base | awk '/^Version:/{print $2; exit}')"
  h5_origin="source hdf5 $(apt-cache showsrc hdf5 | awk '/^Version:/{print $2; exit}')"
fi
qt_key=$(key_for qt "$qt_version" "$qt_origin")
h5_key=$(key_for hdf5 "$h5_version" "$h5_origin")
# No prebuilt archive holds FFTW: its key names the source package either way, and the options it is
# configured with, so that a change of them rebuilds it.
enable_sources
fftw_key=$(key_for fftw "$fftw_version" \
  "source fftw3 $(apt-cache showsrc fftw3 | awk '/^Version:/{print $2; exit}') $fftw_flags")

unpack() { # archive folder key
  log "unpacking $(basename "$1")"
  rm -rf "$2" "$2.partial"
  mkdir -p "$2.partial"
  tar -xJf "$1" -C "$2.partial" --strip-components=1
  printf '%s' "$3" >"$2.partial/.adcard-stamp"
  mv "$2.partial" "$2"
}


work=$cache/work
winenv() {
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
  # HDF5's configure checks run 64-bit programs: Debian's wine alone is satisfied by wine32.
  [ -x /usr/lib/wine/wine64 ] || { log "no 64-bit wine to run HDF5's configure checks (apt-get install wine64)"; exit 1; }
  # The prefix is made without WINEPATH: wineboot with the mingw folders on it makes a prefix that
  # cannot load kernel32.dll ("status c0000135"). Made plainly, and with wineserver done writing it,
  # the same prefix then runs programs with WINEPATH set.
  unset WINEPATH
  # A prefix that cannot start a program fails HDF5's configure checks in odd ways.
  if ! wine cmd /c echo ok 2>/dev/null | grep -q ok; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  export WINEPATH='Z:\usr\x86_64-w64-mingw32\lib;Z:\usr\lib\gcc\x86_64-w64-mingw32\12-posix'
  wine cmd /c echo ok 2>/dev/null | grep -q ok || { log "wine cannot run a program in $WINEPREFIX"; exit 1; }
}
source_tree() { # package folder
  (cd "$work" && rm -rf "$2" && apt-get source -q --download-only "$1" >&2 && dpkg-source -x "$1"_*.dsc "$2" >&2)
}

build_qt() {
  need_packages dpkg-dev
  enable_sources
  mkdir -p "$work"
  source_tree qt6-base qtbase
  rm -rf "$work/build-qt" "$cache/$qt" "$cache/$qt.partial"
  local map="-ffile-prefix-map=$work/="
  # No tablet events: wintab.h is in neither Debian's source nor mingw. Direct2D stays on: turning it
  # off breaks the link of the windows platform plugin in this version.
  cmake -G Ninja -S "$work/qtbase" -B "$work/build-qt" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$cache/$qt.partial" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" \
    -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
    -DFEATURE_network=OFF -DFEATURE_testlib=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF -DFEATURE_qmake=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_system_zlib=OFF >&2
  cmake --build "$work/build-qt" >&2
  cmake --install "$work/build-qt" >/dev/null
  grep -q "\"$qt_version\"" "$cache/$qt.partial/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake" ||
    { log "the source package built a Qt other than $qt_version"; exit 1; }
  printf '%s' "$qt_key" >"$cache/$qt.partial/.adcard-stamp"
  mv "$cache/$qt.partial" "$cache/$qt"
  rm -rf "$work/build-qt" "$work/qtbase"
}

build_hdf5() {
  need_packages dpkg-dev wine
  enable_sources
  mkdir -p "$work"
  source_tree hdf5 hdf5
  winenv
  rm -rf "$work/build-h5" "$cache/$h5" "$cache/$h5.partial"
  # H5private.h includes sys/wait.h, which mingw lacks.
  patch -d "$work/hdf5" -p0 <"$here/hdf5-no-sys-wait.patch" >&2
  grep -q "H5_VERS_INFO.*$h5_version" "$work/hdf5/src/H5public.h" ||
    { log "the source package is not HDF5 $h5_version"; exit 1; }
  # The configure checks run under wine write their answers into the current folder: configure from
  # inside the build folder. Thread-safe needs the high-level library off.
  mkdir -p "$work/build-h5"
  (cd "$work/build-h5" && cmake -G Ninja ../hdf5 -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$cache/$h5.partial" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS="-ffile-prefix-map=$work/=" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DONLY_SHARED_LIBS=ON -DBUILD_TESTING=OFF \
    -DHDF5_BUILD_TOOLS=OFF -DHDF5_BUILD_UTILS=OFF -DHDF5_BUILD_EXAMPLES=OFF -DHDF5_BUILD_HL_LIB=OFF \
    -DHDF5_BUILD_CPP_LIB=OFF -DHDF5_BUILD_FORTRAN=OFF -DHDF5_BUILD_JAVA=OFF -DHDF5_ENABLE_THREADSAFE=ON \
    -DHDF5_ENABLE_Z_LIB_SUPPORT=ON -DHDF5_ENABLE_SZIP_SUPPORT=OFF -DHDF5_USE_FOLDERS=OFF \
    -DHDF5_NO_PACKAGES=ON >&2)
  cmake --build "$work/build-h5" >&2
  cmake --install "$work/build-h5" >/dev/null
  printf '%s' "$h5_key" >"$cache/$h5.partial/.adcard-stamp"
  mv "$cache/$h5.partial" "$cache/$h5"
  rm -rf "$work/build-h5" "$work/hdf5"
}

build_fftw() {
  need_packages dpkg-dev make
  mkdir -p "$work"
  source_tree fftw3 fftw3
  grep -q "^PACKAGE_VERSION='$fftw_version'" "$work/fftw3/configure" ||
    { log "the source package is not FFTW $fftw_version"; exit 1; }
  rm -rf "$work/build-fftw" "$cache/$fftw" "$cache/$fftw.partial"
  mkdir -p "$work/build-fftw"
  # Cross-configured with --host: configure runs none of the programs it builds, so no wine is needed.
  # shellcheck disable=SC2086
  (cd "$work/build-fftw" && ../fftw3/configure --host=x86_64-w64-mingw32 \
    CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O3 -ffile-prefix-map=$work/=" \
    --prefix="$cache/$fftw.partial" -q $fftw_flags >&2)
  make -C "$work/build-fftw" -s -j"$(nproc)" LIBTOOLFLAGS=--silent >&2
  make -C "$work/build-fftw" -s install >/dev/null
  # Linked into the programs, so its licence goes into the package.
  install -D -m 644 "$work/fftw3/COPYING" "$cache/$fftw.partial/share/licenses/fftw3/COPYING"
  printf '%s' "$fftw_key" >"$cache/$fftw.partial/.adcard-stamp"
  mv "$cache/$fftw.partial" "$cache/$fftw"
  rm -rf "$work/build-fftw" "$work/fftw3"
}

start=$SECONDS
if is_ready "$cache/$qt" "$qt_key" bin/Qt6Widgets.dll; then
  log "$cache/$qt is ready"
elif [ -n "$prebuilt" ]; then
  unpack "$prebuilt/$qt.tar.xz" "$cache/$qt" "$qt_key"
else
  log "building Qt $qt_version from Debian's source package into $cache/$qt (about 27 minutes on two cores)"
  build_qt
fi
if is_ready "$cache/$h5" "$h5_key" bin/libhdf5.dll; then
  log "$cache/$h5 is ready"
elif [ -n "$prebuilt" ]; then
  unpack "$prebuilt/$h5.tar.xz" "$cache/$h5" "$h5_key"
else
  log "building HDF5 $h5_version from Debian's source package into $cache/$h5 (about 3 minutes)"
  build_hdf5
fi
if is_ready "$cache/$fftw" "$fftw_key" lib/libfftw3.a; then
  log "$cache/$fftw is ready"
else
  log "building FFTW $fftw_version from Debian's source package into $cache/$fftw (a few minutes)"
  build_fftw
fi
for f in "$cache/$qt/bin/Qt6Widgets.dll" "$cache/$h5/bin/libhdf5.dll" "$cache/$fftw/lib/libfftw3.a"; do
  [ -f "$f" ] || { log "missing $f after the build"; exit 1; }
done
[ $((SECONDS - start)) -gt 5 ] && log "done in $((SECONDS - start)) s"
[ "$print_prefixes" = 1 ] && echo "$cache/$qt;$cache/$h5;$cache/$fftw"
exit 0
