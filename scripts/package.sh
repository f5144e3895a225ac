#!/usr/bin/env bash
# Builds the release from the 32-bit build:
#   dist/Orvanelle-<version>.zip        Orvanelle.scr, LICENSE.txt, the user
#                                       guides (お読みください.txt,
#                                       README-user.txt), licenses/
#   dist/Orvanelle-<version>-setup.exe  the installer (per user, no
#                                       administrator rights)
#   dist/Orvanelle-<version>-third-party-sources.zip
#                                       the Debian source packages of the
#                                       plug-ins' libraries exactly as built
#                                       (scripts/photo-libs.pins), with the
#                                       script, toolchain files and plug-in
#                                       sources that build them, and a README
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

# The sources the plug-ins' libraries were built from. The libraries of
# the release's prefix must be those of the pins (their stamps say so), and
# every source file must verify against its pin and .dsc: then the files
# zipped are the ones built.
deps=/var/cache/orvanelle/i686-w64-mingw32
if ! ORV_TARGET=i686-w64-mingw32 ORV_DEPS_PREFIX=$deps bash "$here/build-photo-libs-mingw.sh" --check; then
  echo "package: the photo libraries in $deps are not those of scripts/photo-libs.pins" >&2
  exit 1
fi
sources=${ORV_SOURCES_DIR:-/var/cache/orvanelle/sources}
ORV_SOURCES_DIR=$sources bash "$here/build-photo-libs-mingw.sh" --fetch
third=$name-third-party-sources
rm -f "dist/$third.zip"
python3 - "$root" "$sources" "$version" "$third" "dist/$third.zip" <<'PY'
import os, re, sys, zipfile
root, sources, version, top, out = sys.argv[1:]
files = {}  # name in the zip -> file
table = ""
with open(os.path.join(root, "scripts", "photo-libs.pins")) as pins:
    for line in pins:
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        table += "  %-9s %-18s %s\n            sha256 of the .dsc: %s\n" % (
            fields[0], fields[1], os.path.basename(fields[2]), fields[3])
        dsc = os.path.basename(fields[2])
        files["debian-sources/" + dsc] = os.path.join(sources, dsc)
        # Every file the .dsc names, as dpkg-source needs them beside it.
        listing = open(os.path.join(sources, dsc), encoding="utf-8").read()
        block = re.search(r"^Checksums-Sha256:\n((?: .*\n)+)", listing, re.M)
        for entry in block.group(1).splitlines():
            name = entry.split()[2]
            files["debian-sources/" + name] = os.path.join(sources, name)
for name in ("scripts/photo-libs.pins", "scripts/build-photo-libs-mingw.sh",
             "cmake/mingw-common.cmake"):
    files[name] = os.path.join(root, name)
for f in os.listdir(os.path.join(root, "cmake")):
    if f.startswith("toolchain-") and f.endswith(".cmake"):
        files["cmake/" + f] = os.path.join(root, "cmake", f)
for folder, dirs, names in os.walk(os.path.join(root, "plugins")):
    dirs[:] = [d for d in dirs if not d.startswith(".")]
    for f in names:
        if not f.startswith(".") and not f.endswith("~"):
            path = os.path.join(folder, f)
            files[os.path.relpath(path, root)] = path
readme = open(os.path.join(root, "packaging", "third-party-sources-README.txt"),
              encoding="utf-8").read()
readme = readme.replace("@VERSION@", version).replace("@PINS@\n", table)
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    z.writestr(top + "/README.txt", readme.replace("\n", "\r\n"))
    for name in sorted(files):
        z.write(files[name], top + "/" + name)
PY
ls -l "dist/$name.zip" "dist/$name-setup.exe" "dist/$third.zip"
