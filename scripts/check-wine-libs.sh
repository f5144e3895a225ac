#!/usr/bin/env bash
# Checks that the X libraries Wine's X11 driver opens at run time are named
# by the set-up and, for each Wine that is installed, are there. The driver
# (winex11.so) opens them by soname with dlopen, and libwine only recommends
# their packages: without libXinerama and libXrandr, Wine sees one monitor
# and says nothing. Both Wines name the same libraries, so the 64-bit one
# also tells what the 32-bit one needs on a machine that cannot run it.
# Prints one line per library; exits 1 when one is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Debian names a library's package after its soname: libXinerama.so.1 is
# libxinerama1, and a name that ends in a digit takes a dash (libX11.so.6
# is libx11-6).
package_of() {
  local base=${1%%.so.*} version=${1##*.so.}
  base=$(tr '[:upper:]' '[:lower:]' <<<"$base")
  if [[ $base =~ [0-9]$ ]]; then echo "$base-$version"; else echo "$base$version"; fi
}

named=$(sed -n '/^wine_x11_libs=(/,/)/p' "$here/setup.sh" | tr -d '()' | sed 's/wine_x11_libs=//')
status=0
drivers=0
for driver in /usr/lib/x86_64-linux-gnu/wine/x86_64-unix/winex11.so \
  /usr/lib/i386-linux-gnu/wine/i386-unix/winex11.so; do
  [[ -f $driver ]] || continue
  drivers=$((drivers + 1))
  libdir=${driver%%/wine/*}
  arch=amd64
  [[ $libdir == */i386-linux-gnu ]] && arch=i386
  # Only the X libraries: libGL and libvulkan are for OpenGL and Vulkan,
  # which the program does not use.
  sonames=$(strings "$driver" | grep -E '^libX[A-Za-z0-9]*\.so\.[0-9]+$' | sort -u)
  if [[ -z $sonames ]]; then
    echo "check-wine-libs: $driver names no X library (a changed Wine?)" >&2
    status=1
  fi
  for soname in $sonames; do
    pkg=$(package_of "$soname")
    if ! grep -qw -- "$pkg" <<<"$named"; then
      echo "check-wine-libs: $soname ($pkg) is opened by Wine's X11 driver but not named in setup.sh" >&2
      status=1
    elif [[ ! -e $libdir/$soname ]]; then
      echo "check-wine-libs: $arch: $soname is missing: install $pkg:$arch" >&2
      status=1
    else
      echo "check-wine-libs: $arch: $soname ($pkg) present"
    fi
  done
done
if [[ $drivers -eq 0 ]]; then
  echo "check-wine-libs: no Wine X11 driver installed" >&2
  status=1
fi
exit $status
