#!/usr/bin/env bash
# Writes the release's licenses/photo-libraries.txt: which Debian sources
# the photo plug-ins' libraries were built from (every pin of
# scripts/photo-libs.pins: name, Debian version, the .dsc's full sha256),
# then for each library its licence, the copyright lines of its
# debian/copyright and, for dav1d, the notice of its x86 assembly.
#   photo-libs-notice.sh <licence folder> <output file>
# The licence folder is a prefix's share/licenses, as
# scripts/build-photo-libs-mingw.sh leaves it; the stamps beside it
# (share/orvanelle/<name>.pin) must match the pins, or nothing is written:
# the text must name what was built, not what should have been.
#   ORV_PHOTO_PINS   another pins file (default scripts/photo-libs.pins)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pins=${ORV_PHOTO_PINS:-$here/photo-libs.pins}
licences=${1:?usage: photo-libs-notice.sh <licence folder> <output file>}
out=${2:?usage: photo-libs-notice.sh <licence folder> <output file>}
stamps=$licences/../orvanelle

die() {
  echo "photo-libs-notice: $*" >&2
  exit 1
}

names=() versions=() shas=()
while read -r name version path sha rest; do
  [[ -z $name || $name == \#* ]] && continue
  [[ $sha =~ ^[0-9a-f]{64}$ && -z $rest ]] || die "$pins: unreadable line for $name"
  names+=("$name") versions+=("$version") shas+=("$sha")
done <"$pins"
[[ ${#names[@]} -gt 0 ]] || die "$pins pins nothing"

for i in "${!names[@]}"; do
  name=${names[i]}
  stamp=$stamps/$name.pin
  [[ -f $stamp ]] || die "$name: no stamp $stamp (not built from the pins)"
  grep -qxF "version ${versions[i]}" "$stamp" && grep -qxF "dsc-sha256 ${shas[i]}" "$stamp" ||
    die "$name: $stamp does not match the pin ${versions[i]} ${shas[i]}: build the libraries again"
  [[ -f $licences/$name/debian-copyright ]] || die "$name: $licences/$name/debian-copyright missing"
done

# The Copyright fields of a machine-readable debian/copyright, each under
# the Files field of its paragraph; "." lines (empty lines of a field) left out.
copyright_lines() {
  awk '
    function flush() {
      if (copyright != "") printf "%s%s\n%s", (printed++ ? "\n" : ""), files, copyright
      files = ""; copyright = ""
    }
    /^[[:space:]]*$/ { flush(); field = ""; next }
    /^[^[:space:]][^:]*:/ {
      field = $0; sub(/:.*/, "", field)
      value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
      if (field == "Files") files = "Files: " value
      else if (field == "Copyright" && value != "") copyright = copyright "  " value "\n"
      next
    }
    /^[[:space:]]/ {
      line = $0; sub(/^[[:space:]]+/, "", line)
      if (line == ".") next
      if (field == "Files") files = files " " line
      else if (field == "Copyright") copyright = copyright "  " line "\n"
    }
    END { flush() }
  ' "$1"
}

rule() { printf '%s\n' '------------------------------------------------------------------------'; }

tmp=$(mktemp "$out.XXXXXX")
trap 'rm -f "$tmp"' EXIT
{
  echo "Libraries of the HEIC/HEIF, AVIF and WebP plug-ins"
  echo "=================================================="
  echo
  echo "The plug-ins in the folder plugins are built with these libraries,"
  echo "each from the Debian source package named here (the release's"
  echo "third-party sources zip holds the packages exactly as built):"
  echo
  for i in "${!names[@]}"; do
    printf '  %-9s %s\n' "${names[i]}" "${versions[i]}"
    printf '            sha256 of the .dsc: %s\n' "${shas[i]}"
  done
  echo
  echo "libheif and libde265 are under the GNU Lesser General Public License,"
  echo "version 3 or later (LGPL-3.0-or-later); dav1d and libwebp under BSD"
  echo "licences. Each licence follows, with the copyright lines of the"
  echo "library's Debian packaging."
  for i in "${!names[@]}"; do
    name=${names[i]}
    dir=$licences/$name
    echo
    rule
    echo "${name} ${versions[i]}"
    rule
    echo
    for f in "$dir"/*; do
      case $(basename "$f") in
        debian-copyright | *-notice.txt) continue ;;
      esac
      cat "$f"
      echo
    done
    echo "Copyright (debian/copyright of the source package):"
    echo
    copyright_lines "$dir/debian-copyright"
    for f in "$dir"/*-notice.txt; do
      [[ -f $f ]] || continue
      echo
      base=${f##*/}
      echo "Notice at the top of ${base%-notice.txt}, the library's x86 assembly layer:"
      echo
      cat "$f"
    done
  done
} >"$tmp"
mv "$tmp" "$out"
trap - EXIT
