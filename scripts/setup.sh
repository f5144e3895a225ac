#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing Orvanelle: compilers
# for both builds, Wine with a Japanese locale, the cross-built libjpeg-turbo
# and test data. Safe to run again: every step checks first and does nothing
# when its work is already done, so a warm machine passes in a second or two.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-tools libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  zlib1g-dev libjpeg62-turbo-dev libpng-dev nasm dpkg-dev
  wine wine32 xvfb xserver-xephyr xauth x11-utils xdotool imagemagick fonts-ipafont-gothic
  locales googletest libgtest-dev libbenchmark-dev nsis python3
  meson pkg-config libheif-dev libwebp-dev libheif-examples libavif-bin webp
)

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
apt_update() {
  if [[ $apt_updated -eq 0 ]]; then
    log "apt-get update"
    as_root apt-get update -qq
    apt_updated=1
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

# One dpkg-query for all: a warm machine passes this step at once.
installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
  awk '$2 == "installed" { print $1 }' || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  apt_update
  log "installing ${missing[*]}"
  # Wine runs the program's windows and dialogs fine without its recommended
  # extras (sound, OpenGL, gstreamer), which would double the download.
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  log "packages: all present"
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

# libheif (with libde265 and dav1d) and libwebp for our plug-ins: i686 for
# the release; x86_64 only where the Windows tests run on the 64-bit build.
photo_targets=(i686-w64-mingw32)
if [[ $(bash -c 'source "$1/wine-env.sh" && echo "$ORV_WINE_BITS"' _ "$here") == 64 ]]; then
  photo_targets+=(x86_64-w64-mingw32)
fi
for target in "${photo_targets[@]}"; do
  as_root mkdir -p /var/cache/orvanelle
  as_root env ORV_TARGET="$target" ORV_DEPS_PREFIX=/var/cache/orvanelle/$target \
    "$here/build-photo-libs-mingw.sh"
done

if [[ -f $here/fetch-pngsuite.sh ]]; then
  log "PNG test images: $(as_root bash "$here/fetch-pngsuite.sh")"
fi

# A Wine prefix takes half a minute to create: do it now, not in the tests.
# A fresh shell, because this one may predate the locale generated above.
bash -c 'source "$1/wine-env.sh" && orv_wine_prefix' _ "$here"
log "done"
