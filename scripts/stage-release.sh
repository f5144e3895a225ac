#!/usr/bin/env bash
# Puts the files of a release into one folder, as a Windows user gets them:
#   stage-release.sh <folder> <Orvanelle.scr> <version>
# Orvanelle.scr, LICENSE.txt, README-user.txt (English), お読みください.txt
# (Japanese, Shift-JIS, as Notepad on a Japanese Windows expects it) and
# licenses/*.txt, every text with CR LF line ends. Used by the build's
# release target (packaging/CMakeLists.txt), which also makes the installer
# from this folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
stage=$1 module=$2 version=$3

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
