#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing Orvanelle: compilers
# for both builds, Wine with a Japanese locale, the cross-built libjpeg-turbo,
# the photo plug-ins' libraries and test data. Safe to run again: every step
# checks first and does nothing when its work is already done, so a warm
# machine passes in a second or two.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-tools libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  zlib1g-dev libjpeg62-turbo-dev libpng-dev nasm dpkg-dev
  wine xvfb xserver-xephyr xauth x11-utils xdotool imagemagick fonts-ipafont-gothic
  locales googletest libgtest-dev libbenchmark-dev nsis python3
  meson pkg-config libheif-examples libavif-bin webp curl zip
)
# Wine's X11 driver opens these X libraries at run time by soname
# (scripts/check-wine-libs.sh lists what winex11.so names and checks each is
# there): without libXinerama and libXrandr it sees one monitor, without the
# others it loses cursors, input and XRender text. libwine only recommends
# them, and we install without recommendations, so each is named here, for
# both Wines: the 32-bit one that runs the shipped module, the 64-bit
# stand-in.
wine_x11_libs=(libxinerama1 libxrandr2 libxrender1 libxcursor1 libxi6 libxcomposite1
  libxfixes3 libxxf86vm1 libxext6 libx11-6 libxcb1 libfreetype6 libfontconfig1)
# Direct2D under Wine draws through OpenGL: winex11 opens libGL (glvnd),
# which takes Mesa's GLX and its software driver (llvmpipe) on Xvfb. Without
# them the show runs without its transitions and their tests skip. Named for
# both Wines, as the X libraries are.
wine_gl_libs=(libgl1 libglx0 libglx-mesa0 libgl1-mesa-dri)
packages+=("${wine_x11_libs[@]}" "${wine_gl_libs[@]}")
# The 32-bit half: the loader that runs the shipped module and what it opens.
packages_i386=(wine32)
for p in "${wine_x11_libs[@]}" "${wine_gl_libs[@]}"; do packages_i386+=("$p:i386"); done

log() { echo "setup: $*"; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo -n "$@"
  else
    echo "setup: this step needs root: $*" >&2
    return 1
  fi
}

need_update=0
apt_updated=0
# Indexes that still failed after the retries, for the message when a
# package that is needed then cannot be installed.
apt_failed_indexes=
# A mirror in mid-sync serves one index with the wrong size for a while and
# apt-get update exits 100 for it although every other index is fresh. Try a
# few times; then go on with what was fetched: only a package that cannot be
# installed stops the set-up, and its message names the index.
apt_update() {
  local try out
  [[ $apt_updated -eq 0 ]] || return 0
  apt_updated=1
  for try in 1 2 3 4; do
    log "apt-get update (try $try of 4)"
    if out=$(as_root apt-get update -qq 2>&1); then
      apt_failed_indexes=
      return 0
    fi
    apt_failed_indexes=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' <<<"$out" | sort -u)
    printf '%s\n' "$out" >&2
    [[ $try -eq 4 ]] || sleep $((try * 15))
  done
  log "apt-get update: going on without the indexes that failed:"
  printf '  %s\n' ${apt_failed_indexes:-"(none named)"} >&2
  return 0
}

# apt-get install that names the indexes that failed to update when it fails.
apt_install() {
  if ! as_root apt-get install -y -qq --no-install-recommends "$@"; then
    echo "setup: could not install: $*" >&2
    if [[ -n $apt_failed_indexes ]]; then
      echo "setup: these package indexes could not be updated (a mirror in mid-sync?); try again later:" >&2
      printf '  %s\n' $apt_failed_indexes >&2
    fi
    return 1
  fi
}

# Wine's 32-bit half comes from the i386 architecture.
if [[ $(dpkg --print-architecture) != i386 ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture"
  as_root dpkg --add-architecture i386
  need_update=1
fi

# libjpeg-turbo for mingw is built from Debian's source package.
enable_deb_src() {
  local f=/etc/apt/sources.list.d/debian.sources
  if [[ -f $f ]]; then
    if grep -qE '^Types:[[:space:]]*deb[[:space:]]*$' "$f"; then
      log "enabling source packages in $f"
      as_root sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
      need_update=1
    fi
  elif [[ -f /etc/apt/sources.list ]] && ! grep -qE '^deb-src ' /etc/apt/sources.list; then
    log "enabling source packages in /etc/apt/sources.list"
    as_root sed -i -E 's/^deb (.*)$/deb \1\ndeb-src \1/' /etc/apt/sources.list
    need_update=1
  fi
}
enable_deb_src

# True when this kernel runs 32-bit x86 programs: a 93-byte ELF that only
# calls exit(0) through int 0x80. Needs no i386 package, so it answers before
# any is installed. Emulation through a qemu-i386 binfmt handler counts as
# no, as in wine-env.sh: Wine does not run usefully under it.
kernel_runs_i386() {
  local f probe
  for f in /proc/sys/fs/binfmt_misc/*; do
    if [[ -f $f ]] && grep -q '^interpreter .*qemu-i386' "$f" 2>/dev/null &&
      grep -qx enabled "$f" 2>/dev/null; then
      return 1
    fi
  done
  probe=$(mktemp /tmp/orv-i386probe.XXXXXX)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  local rc=0
  timeout 10 "$probe" 2>/dev/null || rc=1
  rm -f "$probe"
  return $rc
}

# The packages of a list that are not installed yet. A name without
# ":arch" is the machine's own architecture (or "all").
missing_of() {
  local native installed p
  native=$(dpkg --print-architecture)
  installed=$(dpkg-query -W -f='${Package} ${Architecture} ${db:Status-Status}\n' "$@" 2>/dev/null |
    awk -v native="$native" '$3 == "installed" {
      print $1 ":" $2
      if ($2 == native || $2 == "all") print $1
    }' || true)
  for p in "$@"; do
    grep -qxF "$p" <<<"$installed" || echo "$p"
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
if [[ ${#missing[@]} -gt 0 ]]; then
  apt_update
  log "installing ${missing[*]}"
  # Wine runs the program's windows and dialogs fine without its recommended
  # extras (sound, OpenGL, gstreamer), which would double the download; what
  # it does need of them is named above.
  apt_install "${missing[@]}"
else
  log "packages: all present"
fi

# The 32-bit Wine and its libraries run the shipped module's tests where
# the kernel runs 32-bit programs. When they cannot be installed (an i386
# index that failed to update leaves them out of step with the machine's
# own libraries), the set-up goes on: the test command then runs the Windows
# tests on the 64-bit build, as on a kernel without 32-bit support, and says
# so; everything else it needs is installed above.
mapfile -t missing < <(missing_of "${packages_i386[@]}")
if [[ ${#missing[@]} -gt 0 ]]; then
  apt_update
  log "installing the 32-bit half: ${missing[*]}"
  if ! apt_install "${missing[@]}"; then
    if kernel_runs_i386; then
      log "WARNING: this kernel runs 32-bit programs, but the 32-bit Wine could not be installed;"
      log "WARNING: the Windows tests will run on the 64-bit build until it can be (run this again later)"
    else
      log "this kernel cannot run 32-bit programs; the tests use the 64-bit Wine"
    fi
  fi
else
  log "32-bit packages: all present"
fi

# Code page 932 under Wine needs a Japanese locale in LC_ALL.
if ! locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
  log "generating the ja_JP.UTF-8 locale"
  if grep -qE '^#[[:space:]]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen; then
    as_root sed -i -E 's/^#[[:space:]]*(ja_JP\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  elif ! grep -qE '^ja_JP\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen >/dev/null
else
  log "locale ja_JP.UTF-8: present"
fi

# Both caches below come from Debian's source packages, which need the
# source lists; fetch those only when they are missing or were just enabled.
if [[ $need_update -eq 1 ]] || ! ls /var/lib/apt/lists/*_Sources* >/dev/null 2>&1; then
  apt_update
fi

# libjpeg-turbo for both Windows targets: i686 for the module, x86_64 for
# the test build on machines that cannot run 32-bit Wine.
for target in i686-w64-mingw32 x86_64-w64-mingw32; do
  prefix=/var/cache/orvanelle/$target
  if [[ -f $prefix/lib/libjpeg.a && -f $prefix/include/jpeglib.h ]]; then
    log "libjpeg-turbo for $target: cached"
  else
    as_root mkdir -p /var/cache/orvanelle
    as_root env ORV_TARGET="$target" ORV_DEPS_PREFIX="$prefix" "$here/build-libjpeg-mingw.sh"
  fi
done

# libheif (with libde265 and dav1d) and libwebp for our plug-ins, from the
# Debian sources pinned in photo-libs.pins (downloaded once into
# /var/cache/orvanelle/sources): i686 for the release, x86_64 for the 64-bit
# test build and its codec DLL, and natively for the native tests, fuzz
# targets and benchmarks. Each library is built again only when its stamp
# no longer matches its pin.
as_root mkdir -p /var/cache/orvanelle
for target in i686-w64-mingw32 x86_64-w64-mingw32 native; do
  as_root env ORV_TARGET="$target" ORV_DEPS_PREFIX=/var/cache/orvanelle/$target \
    ORV_JOBS="${ORV_JOBS:-2}" "$here/build-photo-libs-mingw.sh"
done
# Google Benchmark for the Windows benchmarks (the native ones use Debian's
# libbenchmark-dev), from the Debian source pinned in bench-libs.pins.
for target in i686-w64-mingw32 x86_64-w64-mingw32; do
  as_root env ORV_TARGET="$target" ORV_DEPS_PREFIX=/var/cache/orvanelle/$target \
    ORV_PHOTO_PINS="$here/bench-libs.pins" ORV_JOBS="${ORV_JOBS:-2}" \
    "$here/build-photo-libs-mingw.sh"
done

if [[ -f $here/fetch-pngsuite.sh ]]; then
  log "PNG test images: $(as_root bash "$here/fetch-pngsuite.sh")"
fi

# A Wine prefix takes half a minute to create: do it now, not in the tests.
# A fresh shell, because this one may predate the locale generated above.
bash -c 'source "$1/wine-env.sh" && orv_wine_prefix' _ "$here"
log "done"
