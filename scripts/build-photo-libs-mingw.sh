#!/usr/bin/env bash
# Builds the libraries of the HEIC/HEIF, AVIF and WebP plug-ins from the
# Debian source packages pinned in scripts/photo-libs.pins, all of them as
# static libraries:
#   dav1d     AV1 decoder (BSD-2-Clause), meson
#   libde265  HEVC decoder (LGPL-3.0-or-later), cmake
#   libheif   HEIF/AVIF container (LGPL-3.0-or-later), cmake, with libde265
#             and dav1d built in and nothing else: no plug-in loading, no
#             encoders, no other codecs
#   libwebp   WebP (BSD-3-Clause): libwebp, libwebpdemux, libsharpyuv (which
#             libwebp needs) and libwebpmux (the native benchmark writes an
#             EXIF chunk with it; no plug-in links it)
# and, from scripts/bench-libs.pins (ORV_PHOTO_PINS), what the Windows
# benchmarks link and the release never ships:
#   benchmark Google Benchmark (Apache-2.0), cmake
# Every library a pins file names is built, in the file's order.
# for one target:
#   ORV_TARGET       i686-w64-mingw32 (default, the shipped plug-ins),
#                    x86_64-w64-mingw32 (the 64-bit test build) or native
#                    (this machine, -fPIC, for the native tests, fuzz targets
#                    and benchmarks: what is fuzzed is what ships)
#   ORV_DEPS_PREFIX  where they are installed; default
#                    /var/cache/orvanelle/$ORV_TARGET (native:
#                    /var/cache/orvanelle/native)
#   ORV_SOURCES_DIR  where the downloaded Debian source files are kept, as
#                    the release's sources zip ships them; default
#                    /var/cache/orvanelle/sources
#   ORV_DEBIAN_MIRROR  the mirror to download from; by default every mirror
#                    apt is configured with, in turn
#   ORV_JOBS         parallel compile jobs (default 2)
#   ORV_PHOTO_PINS   another pins file (default scripts/photo-libs.pins)
#
# Consumers of the static libheif must define LIBHEIF_STATIC_BUILD: heif.h
# declares every function __declspec(dllimport) on Windows otherwise
# ("#if (defined(_WIN32) || defined __CYGWIN__) && !defined(LIBHEIF_STATIC_BUILD)").
# libheif itself is compiled with it too, so that libheif.a carries no
# dllexport directives and a DLL linked from it exports only what its own
# code exports. libde265 (LIBDE265_STATIC_BUILD, MSVC only), dav1d and
# libwebp need nothing on mingw.
#
# Each library's install leaves a stamp, $prefix/share/orvanelle/<name>.pin:
# its name, Debian version, the .dsc's sha256 and a hash of how it was built
# (configure arguments, compiler, toolchain files, and for libheif the stamps
# of the decoders built into it). A library whose stamp differs from what
# this script would build now is removed (with what a DLL build of earlier
# days left: DLLs, import libraries, headers) and built again; one whose
# stamp matches is left alone. Licence texts go to
# $prefix/share/licenses/<name>/: the upstream licence, debian/copyright as
# debian-copyright, and for dav1d the notice of src/ext/x86/x86inc.asm.
#
#   build-photo-libs-mingw.sh          build what is missing or stale
#   build-photo-libs-mingw.sh --check  build nothing; list each library's
#                                      stamp and exit 1 when one is stale
#   build-photo-libs-mingw.sh --fetch  download and verify the sources only
# A pinned source that does not download or does not verify stops the
# script with a message naming the pin; no other version is ever taken.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
pins_file=${ORV_PHOTO_PINS:-$root/scripts/photo-libs.pins}
mode=build
case ${1:-} in
  '') ;;
  --check) mode=check ;;
  --fetch) mode=fetch ;;
  *)
    echo "usage: build-photo-libs-mingw.sh [--check | --fetch]" >&2
    exit 2
    ;;
esac

target=${ORV_TARGET:-i686-w64-mingw32}
toolchain=
case $target in
  i686-w64-mingw32) toolchain=$root/cmake/toolchain-i686-mingw32.cmake cpu_family=x86 cpu=i686 ;;
  x86_64-w64-mingw32) toolchain=$root/cmake/toolchain-x86_64-mingw32.cmake cpu_family=x86_64 cpu=x86_64 ;;
  native) ;;
  *)
    echo "build-photo-libs: unknown target $target" >&2
    exit 2
    ;;
esac
prefix=${ORV_DEPS_PREFIX:-/var/cache/orvanelle/$target}
sources=${ORV_SOURCES_DIR:-/var/cache/orvanelle/sources}
jobs=${ORV_JOBS:-2}
stamps=$prefix/share/orvanelle

log() { echo "build-photo-libs ($target): $*"; }
die() {
  echo "build-photo-libs ($target): $*" >&2
  exit 1
}

# --- pins

declare -A pin_version pin_path pin_sha
libs=()
while read -r name version path sha rest; do
  [[ -z $name || $name == \#* ]] && continue
  if [[ -z $sha || -n $rest || ! $sha =~ ^[0-9a-f]{64}$ || $path != pool/*.dsc ]]; then
    die "$pins_file: a line does not read 'name version pool/…/.dsc sha256': $name $version $path $sha $rest"
  fi
  pin_version[$name]=$version
  pin_path[$name]=$path
  pin_sha[$name]=$sha
  libs+=("$name")
done <"$pins_file"
[[ ${#libs[@]} -gt 0 ]] || die "$pins_file pins nothing"
pin_label() { echo "pin '$1 ${pin_version[$1]}' ($pins_file)"; }

# --- downloading and verifying the sources

# The mirrors apt downloads from, in the order apt lists them: one-line
# sources (sources.list, *.list) and deb822 ones (*.sources).
apt_mirrors() {
  local f
  {
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f $f ]] || continue
      sed -n -E 's/^[[:space:]]*deb(-src)?[[:space:]]+(\[[^]]*\][[:space:]]+)?([a-z]+:[^[:space:]]+).*/\3/p' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -f $f ]] || continue
      sed -n -E 's/^URIs:[[:space:]]*//p' "$f" | tr ' \t' '\n\n'
    done
  } | sed 's:/*$::' | grep -E '^(https?|ftp|file)://' | awk 'NF && !seen[$0]++'
}

download() {
  local url=$1 out=$2
  if command -v curl >/dev/null; then
    curl -fsSL --retry 3 --connect-timeout 30 -o "$out" "$url"
  else
    wget -q --tries=3 --timeout=30 -O "$out" "$url"
  fi
}

sha_of() { sha256sum "$1" | cut -d' ' -f1; }

# The files a .dsc lists, one "sha256 name" a line.
dsc_files() {
  awk '/^Checksums-Sha256:/ { on = 1; next }
       /^[^ ]/ { on = 0 }
       on && NF == 3 { print $1, $3 }' "$1"
}

# Puts the pinned source of one library into $sources, verified: the .dsc
# against the pin, every file it lists against the .dsc. Files already
# there that verify are not downloaded again.
fetch_source() {
  local name=$1 path=${pin_path[$1]} want=${pin_sha[$1]} dsc mirrors m got tmp sha file tried=
  dsc=$(basename "$path")
  mkdir -p "$sources"
  if [[ -f $sources/$dsc && $(sha_of "$sources/$dsc") != "$want" ]]; then
    log "$dsc in $sources does not verify against the pin: downloading it again" >&2
    rm -f "$sources/$dsc"
  fi
  if [[ -n ${ORV_DEBIAN_MIRROR:-} ]]; then
    mirrors=${ORV_DEBIAN_MIRROR%/}
  else
    mirrors=$(apt_mirrors)
  fi
  [[ -n $mirrors ]] || die "$(pin_label "$name"): no mirror found in apt's sources (set ORV_DEBIAN_MIRROR)"
  tmp=$(mktemp "$sources/.download.XXXXXX")
  for m in $mirrors; do
    if [[ ! -f $sources/$dsc ]]; then
      if ! download "$m/$path" "$tmp" 2>/dev/null; then
        tried+=" $m (does not download)"
        continue
      fi
      got=$(sha_of "$tmp")
      if [[ $got != "$want" ]]; then
        tried+=" $m (sha256 $got)"
        continue
      fi
      chmod 644 "$tmp"
      mv "$tmp" "$sources/$dsc"
    fi
    while read -r sha file; do
      [[ -f $sources/$file && $(sha_of "$sources/$file") == "$sha" ]] && continue
      if ! download "$m/$(dirname "$path")/$file" "$tmp" 2>/dev/null; then
        rm -f "$tmp"
        die "$(pin_label "$name"): $file, named by $dsc, does not download from $m"
      fi
      got=$(sha_of "$tmp")
      if [[ $got != "$sha" ]]; then
        rm -f "$tmp"
        die "$(pin_label "$name"): $file from $m has sha256 $got, $dsc says $sha"
      fi
      chmod 644 "$tmp"
      mv "$tmp" "$sources/$file"
    done < <(dsc_files "$sources/$dsc")
    rm -f "$tmp"
    return 0
  done
  rm -f "$tmp"
  die "$(pin_label "$name"): $path could not be had with sha256 $want from:$tried"
}

fetch_all() {
  local name
  mkdir -p "$sources"
  exec 8>"$sources/.lock"
  flock 8
  for name in "${libs[@]}"; do
    fetch_source "$name"
  done
  exec 8>&-
}

# Unpacks a fetched source with dpkg-source, which checks every file
# against the .dsc's checksums. Prints the folder.
unpack() {
  local name=$1 dsc out=$work/$1/src
  dsc=$(basename "${pin_path[$1]}")
  mkdir -p "$work/$name"
  if ! dpkg-source -x "$sources/$dsc" "$out" >"$work/$name/unpack.log" 2>&1; then
    cat "$work/$name/unpack.log" >&2
    die "$(pin_label "$name"): dpkg-source -x $dsc failed"
  fi
  echo "$out"
}

# --- how each library is built

if [[ $target == native ]]; then
  cc=gcc cxx=g++
else
  cc=$target-gcc-posix cxx=$target-g++-posix
fi

# What the compilers and toolchain files are: part of every library's
# build hash, so that a new compiler or changed flags rebuild.
toolchain_id() {
  "$cc" --version 2>/dev/null | sed -n 1p || echo "$cc missing"
  "$cxx" --version 2>/dev/null | sed -n 1p || echo "$cxx missing"
  if [[ -n $toolchain ]]; then
    sha256sum "$toolchain" "$root/cmake/mingw-common.cmake" | cut -d' ' -f1
  fi
}

cmake_common_args() {
  args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF -DCMAKE_PREFIX_PATH="$prefix")
  if [[ -n $toolchain ]]; then
    args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORV_DEPS_PREFIX="$prefix")
  else
    args+=(-DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
      -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
  fi
}

# Sets args to the configure arguments of one library, and envs to the
# environment its configure step runs with (compiler flags set there add to
# the toolchain file's, where a CMAKE_C_FLAGS argument would replace them).
configure_args() {
  envs=()
  case $1 in
    dav1d)
      args=(--prefix "$prefix" --libdir lib --buildtype release --default-library static
        -Db_staticpic=true -Denable_tools=false -Denable_tests=false -Denable_examples=false
        -Denable_docs=false)
      [[ $target == native ]] || args+=(--cross-file "$work/cross.ini")
      ;;
    libde265)
      cmake_common_args
      args+=(-DENABLE_SDL=OFF -DENABLE_DECODER=OFF -DENABLE_ENCODER=OFF)
      ;;
    libheif)
      cmake_common_args
      envs=(CFLAGS=-DLIBHEIF_STATIC_BUILD CXXFLAGS=-DLIBHEIF_STATIC_BUILD)
      args+=(-DENABLE_PLUGIN_LOADING=OFF -DWITH_EXAMPLES=OFF -DBUILD_TESTING=OFF
        -DWITH_GDK_PIXBUF=OFF -DWITH_FUZZERS=OFF -DWITH_LIBSHARPYUV=OFF
        -DWITH_UNCOMPRESSED_CODEC=OFF -DWITH_HEADER_COMPRESSION=OFF
        -DENABLE_EXPERIMENTAL_MINI_FORMAT=OFF
        -DWITH_LIBDE265=ON -DWITH_LIBDE265_PLUGIN=OFF
        -DLIBDE265_INCLUDE_DIR="$prefix/include" -DLIBDE265_LIBRARY="$prefix/lib/libde265.a"
        -DWITH_DAV1D=ON -DWITH_DAV1D_PLUGIN=OFF
        -DDAV1D_INCLUDE_DIR="$prefix/include" -DDAV1D_LIBRARY="$prefix/lib/libdav1d.a"
        -DWITH_X265=OFF -DWITH_KVAZAAR=OFF -DWITH_UVG266=OFF -DWITH_VVDEC=OFF -DWITH_VVENC=OFF
        -DWITH_OpenH264_DECODER=OFF -DWITH_AOM_DECODER=OFF -DWITH_AOM_ENCODER=OFF
        -DWITH_SvtEnc=OFF -DWITH_RAV1E=OFF -DWITH_JPEG_DECODER=OFF -DWITH_JPEG_ENCODER=OFF
        -DWITH_OpenJPEG_DECODER=OFF -DWITH_OpenJPEG_ENCODER=OFF -DWITH_FFMPEG_DECODER=OFF
        -DWITH_OPENJPH_ENCODER=OFF -DWITH_OPENJPH_DECODER=OFF
        -DCMAKE_DISABLE_FIND_PACKAGE_Doxygen=ON -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON
        -DCMAKE_DISABLE_FIND_PACKAGE_Brotli=ON)
      ;;
    libwebp)
      cmake_common_args
      args+=(-DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF
        -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
        -DWEBP_BUILD_LIBWEBPMUX=ON -DWEBP_BUILD_FUZZTEST=OFF)
      ;;
    benchmark)
      cmake_common_args
      args+=(-DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF
        -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_ENABLE_LTO=OFF -DBENCHMARK_INSTALL_DOCS=OFF
        -DBENCHMARK_ENABLE_INSTALL=ON)
      # Debian's patches take the version from the build, as its rules do.
      args+=(-DGIT_VERSION="${pin_version[benchmark]%-*}")
      ;;
    *) die "no recipe for $1 ($pins_file)" ;;
  esac
}

# The meson cross file of a Windows target.
cross_file() {
  cat <<EOF
[binaries]
c = '$cc'
cpp = '$cxx'
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
}

# The stamp a library gets when this script builds it now.
expected_stamp() {
  local name=$1 args envs recipe
  configure_args "$name"
  recipe=$(
    echo "target $target"
    toolchain_id
    printf '%s\n' "${envs[@]}" "${args[@]}" | sed "s|$work|WORK|g"
    [[ $name == dav1d && $target != native ]] && cross_file
    if [[ $name == libheif ]]; then
      cat "$stamps/libde265.pin" "$stamps/dav1d.pin" 2>/dev/null || echo "decoders not built"
    fi
  )
  printf 'name %s\nversion %s\ndsc-sha256 %s\nflags-sha256 %s\n' "$name" "${pin_version[$name]}" \
    "${pin_sha[$name]}" "$(sha256sum <<<"$recipe" | cut -d' ' -f1)"
}

# What a library installs, besides what its last build listed: also what
# the DLL builds of earlier days left (DLLs, import libraries, headers,
# pkg-config and CMake files), so that nothing stale is found.
stale_paths() {
  case $1 in
    dav1d) echo include/dav1d lib/libdav1d.a lib/libdav1d.dll.a bin/libdav1d.dll \
      lib/pkgconfig/dav1d.pc share/licenses/dav1d ;;
    libde265) echo include/libde265 lib/libde265.a lib/libde265.dll.a bin/libde265.dll \
      lib/pkgconfig/libde265.pc lib/cmake/libde265 share/licenses/libde265 ;;
    libheif) echo include/libheif lib/libheif.a lib/libheif.dll.a bin/libheif.dll \
      lib/pkgconfig/libheif.pc lib/cmake/libheif lib/libheif share/thumbnailers/heif.thumbnailer \
      share/licenses/libheif ;;
    libwebp) echo include/webp lib/libwebp.a lib/libwebpdemux.a lib/libwebpmux.a \
      lib/libwebpdecoder.a lib/libsharpyuv.a lib/libwebp.dll.a lib/libwebpdemux.dll.a \
      lib/pkgconfig/libwebp.pc lib/pkgconfig/libwebpdemux.pc lib/pkgconfig/libwebpmux.pc \
      lib/pkgconfig/libwebpdecoder.pc lib/pkgconfig/libsharpyuv.pc lib/cmake/WebP share/WebP \
      share/licenses/libwebp ;;
    benchmark) echo include/benchmark lib/libbenchmark.a lib/libbenchmark_main.a \
      lib/pkgconfig/benchmark.pc lib/cmake/benchmark share/licenses/benchmark ;;
  esac
}

remove_old() {
  local name=$1 f
  rm -f "$stamps/$name.pin"
  if [[ -f $stamps/$name.files ]]; then
    while IFS= read -r f; do
      [[ $f == "$prefix"/* ]] && rm -f "$f"
    done <"$stamps/$name.files"
    rm -f "$stamps/$name.files"
  fi
  for f in $(stale_paths "$name"); do rm -rf "${prefix:?}/$f"; done
}

install_licences() {
  local name=$1 src=$2 dir=$prefix/share/licenses/$1
  shift 2
  mkdir -p "$dir"
  for f in "$@"; do cp "$src/$f" "$dir/"; done
  cp "$src/debian/copyright" "$dir/debian-copyright"
}

cmake_build() {
  local name=$1 src=$2 build=$work/$1/build
  shift 2
  configure_args "$name"
  env -u CFLAGS -u CXXFLAGS -u LDFLAGS "${envs[@]}" \
    cmake -S "$src" -B "$build" "${args[@]}" >"$build.configure.log" 2>&1 || {
    cat "$build.configure.log" >&2
    die "$name: configuring failed"
  }
  ninja -C "$build" -j "$jobs" "$@" >"$build.log" 2>&1 || {
    tail -50 "$build.log" >&2
    die "$name: building failed"
  }
  cmake --install "$build" >/dev/null
  cp "$build/install_manifest.txt" "$stamps/$name.files"
}

build_dav1d() {
  local src build=$work/dav1d/build
  src=$(unpack dav1d)
  [[ $target == native ]] || cross_file >"$work/cross.ini"
  configure_args dav1d
  # The toolchain's flags, not the environment's, choose what is built.
  env -u CFLAGS -u CXXFLAGS -u LDFLAGS CC="$cc" CXX="$cxx" \
    meson setup "$build" "$src" "${args[@]}" >"$work/dav1d.log" 2>&1 ||
    { cat "$work/dav1d.log" >&2; die "dav1d: configuring failed"; }
  ninja -C "$build" -j "$jobs" >>"$work/dav1d.log" 2>&1 || { tail -50 "$work/dav1d.log" >&2; die "dav1d: building failed"; }
  meson install -C "$build" --no-rebuild >"$work/dav1d-install.log" 2>&1 ||
    { cat "$work/dav1d-install.log" >&2; die "dav1d: installing failed"; }
  grep -v '^#' "$build/meson-logs/install-log.txt" >"$stamps/dav1d.files"
  install_licences dav1d "$src" COPYING
  # The x86 assembly carries the x264 project's notice, which its licence
  # asks to keep with copies of the software.
  awk '/^;\*/ { print; next } { exit }' "$src/src/ext/x86/x86inc.asm" \
    >"$prefix/share/licenses/dav1d/x86inc.asm-notice.txt"
  grep -q 'Permission to use' "$prefix/share/licenses/dav1d/x86inc.asm-notice.txt" ||
    die "dav1d: the notice at the top of src/ext/x86/x86inc.asm was not found"
}

build_libde265() {
  local src
  src=$(unpack libde265)
  cmake_build libde265 "$src"
  install_licences libde265 "$src" COPYING
}

build_libheif() {
  local src
  src=$(unpack libheif)
  # Only the library: heifio, which the examples use, is not needed.
  cmake_build libheif "$src" heif
  grep -q 'libde265 HEVC decoder *: + built-in' "$work/libheif/build.configure.log" &&
    grep -q 'Dav1d AV1 decoder *: + built-in' "$work/libheif/build.configure.log" ||
    { cat "$work/libheif/build.configure.log" >&2; die "libheif: libde265 or dav1d is not built in"; }
  install_licences libheif "$src" COPYING
}

build_libwebp() {
  local src
  src=$(unpack libwebp)
  cmake_build libwebp "$src"
  install_licences libwebp "$src" COPYING PATENTS
}

build_benchmark() {
  local src
  src=$(unpack benchmark)
  cmake_build benchmark "$src"
  install_licences benchmark "$src" LICENSE
}

# The files a library must have installed for its stamp to count.
key_files() {
  case $1 in
    dav1d) echo lib/libdav1d.a include/dav1d/dav1d.h share/licenses/dav1d/x86inc.asm-notice.txt ;;
    libde265) echo lib/libde265.a include/libde265/de265.h ;;
    libheif) echo lib/libheif.a include/libheif/heif.h ;;
    libwebp) echo lib/libwebp.a lib/libwebpdemux.a lib/libsharpyuv.a lib/libwebpmux.a \
      include/webp/decode.h include/webp/demux.h ;;
    benchmark) echo lib/libbenchmark.a include/benchmark/benchmark.h ;;
  esac
}

up_to_date() {
  local name=$1 f
  [[ -f $stamps/$name.pin && "$(cat "$stamps/$name.pin")" == "$(expected_stamp "$name")" ]] || return 1
  for f in $(key_files "$name") share/licenses/$name/debian-copyright; do
    [[ -f $prefix/$f ]] || return 1
  done
}

work=$(mktemp -d /tmp/orv-photolibs.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [[ $mode == fetch ]]; then
  fetch_all
  log "sources verified in $sources"
  exit 0
fi

if [[ $mode == check ]]; then
  status=0
  for name in "${libs[@]}"; do
    if up_to_date "$name"; then
      log "$name ${pin_version[$name]}: up to date in $prefix"
    elif [[ -f $stamps/$name.pin ]]; then
      log "$name: stale in $prefix (its stamp says $(sed -n 's/^version //p' "$stamps/$name.pin"), built otherwise than the pin asks)"
      status=1
    else
      log "$name: not built in $prefix"
      status=1
    fi
  done
  exit $status
fi

mkdir -p "$prefix" "$stamps"
exec 9>"$prefix/.photo-libs.lock"
flock 9
# pkg-config must not offer the build machine's own libraries (Debian's
# libde265, dav1d, libsharpyuv) to these builds.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH=

todo=()
decoders_rebuilt=0
for name in "${libs[@]}"; do
  # libheif is built on its decoders' headers: when one of them is built
  # anew, so is libheif.
  if [[ $name == libheif && $decoders_rebuilt == 1 ]] || ! up_to_date "$name"; then
    todo+=("$name")
    [[ $name == dav1d || $name == libde265 ]] && decoders_rebuilt=1
  else
    log "$name ${pin_version[$name]}: up to date"
  fi
done
[[ ${#todo[@]} -eq 0 ]] && exit 0
fetch_all
for name in "${todo[@]}"; do
  remove_old "$name"
  log "$name ${pin_version[$name]}: building"
  TIMEFORMAT="build-photo-libs ($target): $name ${pin_version[$name]}: built in %R s (user %U s, system %S s)"
  time "build_$name"
  expected_stamp "$name" >"$stamps/$name.pin.new"
  mv "$stamps/$name.pin.new" "$stamps/$name.pin"
  rm -rf "${work:?}/$name"
done
