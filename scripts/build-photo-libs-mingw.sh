#!/usr/bin/env bash
# Builds the libraries of the HEIC/HEIF, AVIF and WebP plug-ins for a
# mingw-w64 target from Debian's source packages:
#   libde265  HEVC decoder, LGPL: a DLL (libde265.dll)
#   dav1d     AV1 decoder, BSD: static, linked into libheif.dll
#   libheif   HEIF/AVIF container, LGPL: a DLL (libheif.dll) that uses both
#   libwebp   WebP, BSD: static (libwebp, libwebpdemux), linked into the plug-in
# The LGPL libraries stay DLLs beside the plug-ins so that a user can replace
# them. Every DLL carries its compiler runtime (libgcc, libstdc++,
# winpthread) inside: Windows ships none of them. The results go to
# ORV_DEPS_PREFIX, each library once: a library already there is not built
# again. Licence texts go to $prefix/share/licenses/<library>/.
#   ORV_TARGET       i686-w64-mingw32 (default, the shipped plug-ins) or
#                    x86_64-w64-mingw32 (the 64-bit test build)
#   ORV_DEPS_PREFIX  default /var/cache/orvanelle/$ORV_TARGET
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
target=${ORV_TARGET:-i686-w64-mingw32}
case $target in
  i686-w64-mingw32) toolchain=$root/cmake/toolchain-i686-mingw32.cmake cpu_family=x86 cpu=i686 ;;
  x86_64-w64-mingw32) toolchain=$root/cmake/toolchain-x86_64-mingw32.cmake cpu_family=x86_64 cpu=x86_64 ;;
  *)
    echo "build-photo-libs: unknown target $target" >&2
    exit 2
    ;;
esac
prefix=${ORV_DEPS_PREFIX:-/var/cache/orvanelle/$target}
jobs=${ORV_JOBS:-2}
# -static keeps libwinpthread, libgcc and libstdc++ out of the DLLs' imports;
# --exclude-libs keeps their symbols out of the DLLs' exports, where a DLL
# linked against another would find them twice.
runtime_flags="-static -static-libgcc -static-libstdc++"
dll_flags="$runtime_flags -Wl,--exclude-libs,ALL -s"

log() { echo "build-photo-libs ($target): $*"; }

work=$(mktemp -d /tmp/orv-photolibs.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Unpacks the newest version of a source package that can be downloaded:
# versions that live only in the security archive may be missing there.
# Prints the folder of the unpacked source.
fetch_source() {
  local name=$1 versions v
  versions=$(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -u |
    sort -r -t: -k1,1 --version-sort)
  mkdir -p "$work/$name"
  for v in $versions; do
    if (cd "$work/$name" && apt-get source --download-only "$name=$v" >/dev/null 2>&1); then
      (cd "$work/$name" && dpkg-source -x --no-check ./*.dsc src >/dev/null)
      log "$name: Debian source $v" >&2
      echo "$work/$name/src"
      return 0
    fi
    log "$name $v: source does not download, trying an older version" >&2
    rm -f "$work/$name"/*
  done
  echo "build-photo-libs: no version of $name downloads" >&2
  return 1
}

licence() {
  local name=$1 src=$2
  shift 2
  mkdir -p "$prefix/share/licenses/$name"
  for f in "$@"; do cp "$src/$f" "$prefix/share/licenses/$name/"; done
}

cmake_build() {
  local src=$1 build=$2
  shift 2
  cmake -G Ninja -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORV_DEPS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_SHARED_LINKER_FLAGS="$dll_flags" -DCMAKE_EXE_LINKER_FLAGS="$runtime_flags" \
    "$@" >"$build.configure.log" 2>&1 || {
    cat "$build.configure.log" >&2
    return 1
  }
  ninja -C "$build" -j "$jobs" >"$build.log" 2>&1 || {
    tail -50 "$build.log" >&2
    return 1
  }
  ninja -C "$build" install >/dev/null
}

mkdir -p "$prefix"
# pkg-config must not offer the build machine's own libraries (libheif's
# optional gdk-pixbuf loader, for one) to a Windows build.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=

if [[ -f $prefix/lib/libdav1d.a && -f $prefix/include/dav1d/dav1d.h ]]; then
  log "dav1d: cached"
else
  src=$(fetch_source dav1d)
  cat >"$work/cross.ini" <<EOF
[binaries]
c = '$target-gcc-posix'
cpp = '$target-g++-posix'
ar = '$target-ar'
strip = '$target-strip'
windres = '$target-windres'
nasm = 'nasm'

[host_machine]
system = 'windows'
cpu_family = '$cpu_family'
cpu = '$cpu'
endian = 'little'
EOF
  meson setup "$work/dav1d-build" "$src" --cross-file "$work/cross.ini" \
    --prefix "$prefix" --libdir lib --buildtype release --default-library static \
    -Denable_tools=false -Denable_tests=false -Denable_examples=false >"$work/dav1d.log" 2>&1 ||
    { cat "$work/dav1d.log" >&2; exit 1; }
  ninja -C "$work/dav1d-build" -j "$jobs" >>"$work/dav1d.log" 2>&1 || { tail -50 "$work/dav1d.log" >&2; exit 1; }
  ninja -C "$work/dav1d-build" install >/dev/null
  licence dav1d "$src" COPYING
  log "dav1d: built"
fi

if [[ -f $prefix/bin/libde265.dll && -f $prefix/include/libde265/de265.h ]]; then
  log "libde265: cached"
else
  src=$(fetch_source libde265)
  cmake_build "$src" "$work/de265-build" -DBUILD_SHARED_LIBS=ON -DENABLE_SDL=OFF \
    -DENABLE_DECODER=OFF -DENABLE_ENCODER=OFF
  licence libde265 "$src" COPYING
  log "libde265: built"
fi

if [[ -f $prefix/bin/libheif.dll && -f $prefix/include/libheif/heif.h ]]; then
  log "libheif: cached"
else
  src=$(fetch_source libheif)
  de265_implib=$(find "$prefix/lib" -maxdepth 1 -name 'libde265*.a' | sort | head -1)
  cmake_build "$src" "$work/heif-build" -DBUILD_SHARED_LIBS=ON \
    -DWITH_EXAMPLES=OFF -DENABLE_PLUGIN_LOADING=OFF -DBUILD_TESTING=OFF \
    -DWITH_LIBDE265=ON -DWITH_LIBDE265_PLUGIN=OFF \
    -DLIBDE265_INCLUDE_DIR="$prefix/include" -DLIBDE265_LIBRARY="$de265_implib" \
    -DWITH_DAV1D=ON -DWITH_DAV1D_PLUGIN=OFF \
    -DDAV1D_INCLUDE_DIR="$prefix/include" -DDAV1D_LIBRARY="$prefix/lib/libdav1d.a" \
    -DWITH_X265=OFF -DWITH_AOM_ENCODER=OFF -DWITH_AOM_DECODER=OFF \
    -DWITH_RAV1E=OFF -DWITH_SvtEnc=OFF
  licence libheif "$src" COPYING
  log "libheif: built"
fi

if [[ -f $prefix/lib/libwebp.a && -f $prefix/lib/libwebpdemux.a && -f $prefix/include/webp/decode.h ]]; then
  log "libwebp: cached"
else
  src=$(fetch_source libwebp)
  cmake_build "$src" "$work/webp-build" -DBUILD_SHARED_LIBS=OFF \
    -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
    -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
    -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF \
    -DWEBP_BUILD_LIBWEBPMUX=OFF
  licence libwebp "$src" COPYING PATENTS
  log "libwebp: built"
fi
