#!/usr/bin/env bash
# Builds the release from the 32-bit build:
#   dist/Orvanelle-<version>.zip        Orvanelle.scr, LICENSE.txt, the user
#                                       guides (お読みください.txt,
#                                       README-user.txt), licenses/
#   dist/Orvanelle-<version>-setup.exe  the installer (per user, no
#                                       administrator rights)
# The version is the project's (CMakeLists.txt at the root); the script
# checks that the module's version resource says the same.
#   ORV_SKIP_SETUP=1   do not run scripts/setup.sh
#   ORV_JOBS=n         parallel compile jobs (default 2)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cd "$root"

if [[ ${ORV_SKIP_SETUP:-0} != 1 ]]; then
  bash "$here/setup.sh"
fi

dir=build/win
mkdir -p build
if [[ ! -f $dir/build.ninja ]]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
    -DORV_DEPS_PREFIX=/var/cache/orvanelle/i686-w64-mingw32 >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    echo "package: configuring $dir failed" >&2
    exit 1
  }
fi
ninja -C "$dir" -j "${ORV_JOBS:-2}" release

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
name=Orvanelle-$version
stage=$dir/packaging/$name
setup=$dir/packaging/$name-setup.exe
if [[ -z $version || ! -f $stage/Orvanelle.scr || ! -f $setup ]]; then
  echo "package: the build did not make $stage and $setup" >&2
  exit 1
fi
# The version resource holds UTF-16 strings: the value follows its key.
resource=$(strings -a -el "$stage/Orvanelle.scr" | grep -A1 -x ProductVersion | tail -1)
if [[ $resource != "$version.0" ]]; then
  echo "package: the module says version '$resource', the build $version" >&2
  exit 1
fi

mkdir -p dist
rm -f "dist/$name.zip" "dist/$name-setup.exe"
# Names in UTF-8 with the flag (bit 11) that tells Windows so, which
# Explorer's own zip folders read; Info-ZIP's zip sets it only under some
# locales, Python's zipfile always does for a name that is not ASCII.
python3 - "$(dirname "$stage")" "$name" "dist/$name.zip" <<'PY'
import os, sys, zipfile
base, name, out = sys.argv[1:]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for folder, dirs, files in os.walk(os.path.join(base, name)):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(folder, f)
            z.write(path, os.path.relpath(path, base))
PY
cp "$setup" "dist/$name-setup.exe"
ls -l "dist/$name.zip" "dist/$name-setup.exe"
