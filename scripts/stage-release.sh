#!/usr/bin/env bash
# Puts the files of a release into one folder, as a Windows user gets them:
#   stage-release.sh <folder> <Orvanelle.scr> <version> [<plug-in folder> <licence folder>]
# Orvanelle.scr, LICENSE.txt, README-user.txt (English), お読みください.txt
# (Japanese, Shift-JIS, as Notepad on a Japanese Windows expects it) and
# licenses/*.txt, every text with CR LF line ends. With a plug-in folder:
# our plug-ins (*.spi) and the DLLs beside them in plugins/, and the licence
# texts of their libraries (one sub-folder per library in the licence
# folder, as scripts/build-photo-libs-mingw.sh leaves them) in licenses/,
# and licenses/photo-libraries.txt, which names the pinned Debian source of
# each (scripts/photo-libs-notice.sh). Used by the build's release target
# (packaging/CMakeLists.txt), which also makes the installer from this
# folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
stage=$1 module=$2 version=$3 plugins=${4:-} plugin_licenses=${5:-}

crlf() { sed 's/\r$//; s/$/\r/'; }

rm -rf "$stage"
mkdir -p "$stage/licenses"
cp "$module" "$stage/Orvanelle.scr"
crlf <"$root/LICENSE" >"$stage/LICENSE.txt"
sed "s/@VERSION@/$version/g" "$root/packaging/README-user.txt" | crlf >"$stage/README-user.txt"
sed "s/@VERSION@/$version/g" "$root/packaging/お読みください.txt" | crlf |
  iconv -f UTF-8 -t CP932 >"$stage/お読みください.txt"
for f in "$root"/packaging/licenses/*.txt; do
  crlf <"$f" >"$stage/licenses/$(basename "$f")"
done

if [[ -n $plugins ]]; then
  mkdir -p "$stage/plugins"
  cp "$plugins"/*.spi "$plugins"/*.dll "$stage/plugins/"
  for dir in "$plugin_licenses"/*/; do
    name=$(basename "$dir")
    # One text per library: its COPYING, then any further notice (PATENTS).
    for f in "$dir"COPYING "$dir"*; do
      [[ -f $f && ($f == "$dir"COPYING || $(basename "$f") != COPYING) ]] || continue
      cat "$f"
      echo
    done | crlf >"$stage/licenses/$name.txt"
  done
  # Which pinned Debian sources those libraries were built from, with their
  # licences and copyright lines in one text; refused when the libraries'
  # stamps do not match scripts/photo-libs.pins.
  bash "$here/photo-libs-notice.sh" "$plugin_licenses" "$stage/photo-libraries.lf"
  crlf <"$stage/photo-libraries.lf" >"$stage/licenses/photo-libraries.txt"
  rm "$stage/photo-libraries.lf"
fi
