#!/usr/bin/env bash
# Builds libjpeg-turbo (IJG libjpeg API, static, with SIMD through nasm) for
# i686-w64-mingw32 from Debian's source package. The result is cached under
# ORV_DEPS_PREFIX and rebuilt only when missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
prefix=${ORV_DEPS_PREFIX:-/var/cache/orvanelle/i686-w64-mingw32}
if [[ -f "$prefix/lib/libjpeg.a" && -f "$prefix/include/jpeglib.h" ]]; then
  echo "libjpeg-turbo for mingw: cached in $prefix"
  exit 0
fi
work=$(mktemp -d /tmp/orv-libjpeg.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only libjpeg-turbo >/dev/null
dpkg-source -x --no-check ./libjpeg-turbo_*.dsc src >/dev/null
mkdir build && cd build
cmake -G Ninja ../src \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF \
  -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm -DREQUIRE_SIMD=ON >/dev/null
ninja >/dev/null
ninja install >/dev/null
echo "libjpeg-turbo for mingw: built into $prefix"
