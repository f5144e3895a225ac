#!/usr/bin/env bash
# One plug-in case of the Windows build: decodes SAMPLES/NAME through
# picdump with our plug-ins under Wine and compares the result with
# SAMPLES/<NAME without extension>.ref.png within TOLERANCE levels, or, with
# TOLERANCE "fail", expects picdump to decode nothing (exit code 1, no
# output file).
#   check-photo.sh PICDUMP PLUGIN_DIR SAMPLES NAME TOLERANCE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
picdump=$1 plugins=$2 samples=$3 name=$4 tolerance=$5
out=$samples/out
mkdir -p "$out"
result=$out/$name.bmp
rm -f "$result"
"$root/scripts/wine-run.sh" "$picdump" --plugins "Z:$plugins" "Z:$samples/$name" "Z:$result"
rc=$?
if [[ $tolerance == fail ]]; then
  if [[ $rc -ne 1 || -e $result ]]; then
    echo "check-photo: $name: expected no picture (exit 1), got exit $rc" >&2
    exit 1
  fi
  echo "check-photo: $name: refused as expected"
  exit 0
fi
if [[ $rc -ne 0 || ! -f $result ]]; then
  echo "check-photo: $name: picdump failed with exit code $rc" >&2
  exit 1
fi
python3 "$here/compare-pictures.py" "$result" "$samples/${name%.*}.ref.png" "$tolerance"
