#!/usr/bin/env bash
# Unpacks Debian's libpng 1.6 source package into a cache so the PNG
# conformance test can read its image collections (contrib/pngsuite and
# contrib/testpngs, crashers included). Fetched only when missing.
# Prints the folder that holds contrib/.
set -euo pipefail
cache=${ORV_PNGSUITE_DIR:-/var/cache/orvanelle/pngsuite}
if [[ -d "$cache/contrib/pngsuite" && -d "$cache/contrib/testpngs" ]]; then
  echo "$cache"
  exit 0
fi
work=$(mktemp -d /tmp/orv-pngsuite.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The newest source version can lag on a mirror; fall back to the older
# ones the index knows (the test images are the same across 1.6 releases).
fetched=
for v in "" $(apt-cache showsrc libpng1.6 | sed -n 's/^Version: //p' | sort -rV); do
  if apt-get source --download-only "libpng1.6${v:+=$v}" >/dev/null 2>&1; then
    fetched=yes
    break
  fi
  rm -f ./libpng1.6_*
done
if [[ -z "$fetched" ]]; then
  echo "fetch-pngsuite: could not download the libpng1.6 source package" >&2
  exit 1
fi
dpkg-source -x --no-check ./libpng1.6_*.dsc src >/dev/null
mkdir -p "$cache"
rm -rf "$cache/contrib"
mkdir -p "$cache/contrib"
cp -r src/contrib/pngsuite src/contrib/testpngs "$cache/contrib/"
echo "$cache"
