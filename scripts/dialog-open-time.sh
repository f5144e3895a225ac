#!/usr/bin/env bash
# How quickly the settings dialog opens with a long picture list: a settings
# folder with 10,000 entries in OrvanelleFileList.dat and a history of 32,
# and, for comparison in the same run, one with both lists empty. Times from
# process start until the dialog is visible and answers a message
# (tools/dialogprobe), five runs each, under Wine on a private X server.
#   scripts/dialog-open-time.sh [runs]
#   ORV_DIALOG_BUILD=dir  build tree with Orvanelle and dialogprobe (default build/win)
#   ORV_DIALOG_DISPLAY=:n the X display to start (default: a free one)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cd "$root"
runs=${1:-5}
build=${ORV_DIALOG_BUILD:-build/win}
for f in app/Orvanelle.scr tools/dialogprobe/dialogprobe.exe; do
  [[ -f $build/$f ]] || {
    echo "dialog-open-time: $build/$f is not built (ninja -C $build Orvanelle dialogprobe)" >&2
    exit 1
  }
done
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
orv_wine_prefix
orv_xvfb_start "${ORV_DIALOG_DISPLAY:-}"

work=$(mktemp -d /tmp/orv-opentime.XXXXXX)
remove_work() { rm -rf "$work"; }
orv_on_exit remove_work
crlf_sjis() { sed 's/$/\r/' | iconv -f UTF-8 -t CP932; }
for set in long empty; do
  mkdir -p "$work/$set"
  cp "$build/app/Orvanelle.scr" "$work/$set/"
  printf '[Screen]\nWindowBorder=10\n' | crlf_sjis >"$work/$set/Orvanelle.ini"
  : >"$work/$set/OrvanelleFileList.dat"
  : >"$work/$set/OrvanelleDirList.dat"
done
# Paths as long as real photo folders have them, the Japanese ones too.
for ((i = 0; i < 10000; i++)); do
  printf 'C:\\Users\\写真\\%04d年\\旅行 %03d\\IMG_%05d.jpg\n' $((2000 + i % 25)) $((i % 400)) "$i"
done | crlf_sjis >"$work/long/OrvanelleFileList.dat"
for ((i = 0; i < 32; i++)); do
  printf 'C:\\Users\\写真\\%04d年\\旅行 %03d\n' $((2000 + i % 25)) "$i"
done | crlf_sjis >"$work/long/OrvanelleDirList.dat"

probe=$build/tools/dialogprobe/dialogprobe.exe
# A first start outside the measurement: Wine's first process of a session
# pays for starting its services.
orv_wine "$probe" open "$(orv_wine winepath.exe -w "$work/empty" | tr -d '\r')" 1 >/dev/null
for set in long empty; do
  echo "dialog-open-time: $set lists"
  orv_wine "$probe" open "$(orv_wine winepath.exe -w "$work/$set" | tr -d '\r')" "$runs"
done
orv_xvfb_stop
