#!/usr/bin/env bash
# Builds libjpeg-turbo (IJG libjpeg API, static, with SIMD through nasm) for
# a mingw-w64 target from Debian's source package. The result is cached under
# ORV_DEPS_PREFIX and rebuilt only when missing.
#   ORV_TARGET       i686-w64-mingw32 (default, the shipped module) or
#                    x86_64-w64-mingw32 (the 64-bit test build)
#   ORV_DEPS_PREFIX  default /var/cache/orvanelle/$ORV_TARGET
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
target=${ORV_TARGET:-i686-w64-mingw32}
case $target in
  i686-w64-mingw32) toolchain=$root/cmake/toolchain-i686-mingw32.cmake ;;
  x86_64-w64-mingw32) toolchain=$root/cmake/toolchain-x86_64-mingw32.cmake ;;
  *)
    echo "build-libjpeg-mingw: unknown target $target" >&2
    exit 2
    ;;
esac
prefix=${ORV_DEPS_PREFIX:-/var/cache/orvanelle/$target}
if [[ -f "$prefix/lib/libjpeg.a" && -f "$prefix/include/jpeglib.h" ]]; then
  echo "libjpeg-turbo for $target: cached in $prefix"
  exit 0
fi
work=$(mktemp -d /tmp/orv-libjpeg.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only libjpeg-turbo >/dev/null
dpkg-source -x --no-check ./libjpeg-turbo_*.dsc src >/dev/null
mkdir build && cd build
cmake -G Ninja ../src \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF \
  -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm -DREQUIRE_SIMD=ON >/dev/null
ninja -j2 >/dev/null
ninja install >/dev/null
echo "libjpeg-turbo for $target: built into $prefix"
