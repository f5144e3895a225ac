#!/usr/bin/env bash
# Checks that the photo plug-ins' libraries were built from what
# scripts/photo-libs.pins pins, and that the release says so:
#   - in every prefix, each pinned library's stamp
#     (share/orvanelle/<name>.pin) names the pin's version and .dsc sha256,
#     and scripts/build-photo-libs-mingw.sh --check finds it built as that
#     script builds it now;
#   - licenses/photo-libraries.txt, made afresh from the release's prefix
#     and as staged in any release folder of the build trees, names every
#     pin with its version and full .dsc sha256.
# Prints one line per finding; exits 1 when anything is stale or missing.
#   ORV_PHOTO_PREFIXES  "target:prefix ..." to check (default the three the
#                       set-up builds in /var/cache/orvanelle)
#   ORV_PHOTO_PINS      another pins file (default scripts/photo-libs.pins)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
pins=${ORV_PHOTO_PINS:-$here/photo-libs.pins}
cache=/var/cache/orvanelle
prefixes=${ORV_PHOTO_PREFIXES:-"i686-w64-mingw32:$cache/i686-w64-mingw32 x86_64-w64-mingw32:$cache/x86_64-w64-mingw32 native:$cache/native"}
status=0

fail() {
  echo "check-photo-libs: $*" >&2
  status=1
}

names=() versions=() shas=()
while read -r name version path sha rest; do
  [[ -z $name || $name == \#* ]] && continue
  names+=("$name") versions+=("$version") shas+=("$sha")
done <"$pins"
if [[ ${#names[@]} -eq 0 ]]; then
  echo "check-photo-libs: $pins pins nothing" >&2
  exit 1
fi

# The value of one "key value" line of a stamp.
stamp_value() { sed -n "s/^$2 //p" "$1"; }

for pair in $prefixes; do
  target=${pair%%:*} prefix=${pair#*:}
  for i in "${!names[@]}"; do
    name=${names[i]} stamp=$prefix/share/orvanelle/${names[i]}.pin
    if [[ ! -f $stamp ]]; then
      fail "$target: $name has no stamp in $prefix (not built from the pins: run scripts/setup.sh)"
      continue
    fi
    got_name=$(stamp_value "$stamp" name)
    got_version=$(stamp_value "$stamp" version)
    got_sha=$(stamp_value "$stamp" dsc-sha256)
    if [[ $got_name != "$name" || $got_version != "${versions[i]}" || $got_sha != "${shas[i]}" ]]; then
      fail "$target: $name in $prefix is $got_name $got_version (.dsc sha256 $got_sha), pinned ${versions[i]} (${shas[i]})"
    else
      echo "check-photo-libs: $target: $name ${versions[i]} as pinned"
    fi
  done
  # How each was built (configure arguments, compiler, toolchain files).
  if ! out=$(ORV_PHOTO_PINS=$pins ORV_TARGET=$target ORV_DEPS_PREFIX=$prefix \
    bash "$here/build-photo-libs-mingw.sh" --check 2>&1); then
    fail "$target: built otherwise than scripts/build-photo-libs-mingw.sh builds now:"
    grep -v ': up to date' <<<"$out" | sed 's/^/  /' >&2
  fi
done

# Every pin in the table of a photo-libraries.txt: a line "  <name> <version>"
# and, right under it, the full sha256 of its .dsc.
check_notice() {
  local text=$1 label=$2 i ok=1
  for i in "${!names[@]}"; do
    if ! awk -v n="${names[i]}" -v v="${versions[i]}" -v s="sha256 of the .dsc: ${shas[i]}" '
        { sub(/\r$/, "") }
        named && $0 ~ /^ +sha256 of the / && substr($0, length($0) - length(s) + 1) == s { found = 1 }
        { named = /^  [^ ]/ && $1 == n && $2 == v && NF == 2 }
        END { exit !found }' "$text"; then
      fail "$label does not name ${names[i]} ${versions[i]} with .dsc sha256 ${shas[i]}"
      ok=0
    fi
  done
  [[ $ok -eq 0 ]] || echo "check-photo-libs: $label names every pin"
}

release_prefix=${prefixes%% *}
release_prefix=${release_prefix#*:}
tmp=$(mktemp -d /tmp/orv-check-photo-libs.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
if ORV_PHOTO_PINS=$pins bash "$here/photo-libs-notice.sh" "$release_prefix/share/licenses" \
  "$tmp/photo-libraries.txt"; then
  check_notice "$tmp/photo-libraries.txt" "photo-libraries.txt made from $release_prefix"
else
  fail "photo-libraries.txt cannot be made from $release_prefix"
fi
for text in "$root"/build/*/packaging/Orvanelle-*/licenses/photo-libraries.txt; do
  [[ -f $text ]] || continue
  check_notice "$text" "${text#"$root"/}"
done
exit $status
