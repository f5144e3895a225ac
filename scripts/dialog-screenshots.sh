#!/usr/bin/env bash
# Screenshots of the settings dialog as a user sees it: opens
# `Orvanelle.scr /c` under Wine at the DPI given, over a settings folder that
# uses the bundled sample pictures, and saves one PNG of the screen per page,
# switching pages with Ctrl+Tab as a user does.
#   scripts/dialog-screenshots.sh [dpi] [outdir]   (defaults: 96, screenshots/dialog-<dpi>)
#   ORV_DIALOG_BUILD=dir  take the module from this build tree (default build/win)
#   ORV_DIALOG_DISPLAY=:n the X display to start (default: a free one)
#   ORV_DIALOG_HOLD=file  keep the dialog open after the screenshots until
#                         the file exists, to look at it by hand
#   ORV_DIALOG_PICKERS=1  also open the pickers (folder, font, colour, the
#                         two open dialogs, one of them again after growing
#                         it by 100 x 50) and save one PNG of each; prints
#                         the dialog's and each picker's screen rectangle
# The Wine prefix in WINEPREFIX (or the project's default one) is copied
# first, so its DPI setting stays as it was.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cd "$root"

dpi=${1:-96}
out=${2:-screenshots/dialog-$dpi}
[[ $dpi =~ ^[0-9]+$ ]] || {
  echo "dialog-screenshots: the DPI must be a number" >&2
  exit 2
}
module=${ORV_DIALOG_BUILD:-build/win}/app/Orvanelle.scr
[[ -f $module ]] || {
  echo "dialog-screenshots: $module is not built (ninja -C build/win Orvanelle)" >&2
  exit 1
}

# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
orv_wine_prefix

work=$(mktemp -d /tmp/orv-dialog.XXXXXX)
remove_work() { rm -rf "$work"; }
orv_on_exit remove_work
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
# Wine reads the DPI from the user's desktop settings; older versions from
# the hardware profile.
hex=$(printf '0x%x' "$dpi")
(unset DISPLAY
  orv_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$hex" /f
  orv_wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$hex" /f
  wineserver -w) >/dev/null 2>&1

orv_xvfb_start "${ORV_DIALOG_DISPLAY:-}"

stage=$work/settings
mkdir -p "$stage"
cp "$module" "$stage/Orvanelle.scr"
crlf_sjis() { sed 's/$/\r/' | iconv -f UTF-8 -t CP932; }
winpath() { orv_wine winepath.exe -w "$@" 2>/dev/null | tr -d '\r'; }

pictures=()
for f in samples/*.jpg samples/*.bmp; do
  [[ -f $f ]] && pictures+=("$root/$f")
done
winpath "${pictures[@]}" | crlf_sjis >"$stage/OrvanelleFileList.dat"
# A history whose first folder holds the pictures, and a few that do not
# exist (the dialog keeps them as they are).
{
  winpath "$root/samples"
  printf '%s\n' 'C:\Users\Public\Pictures' 'D:\写真\2024年 夏休み' 'C:\壁紙'
} | crlf_sjis >"$stage/OrvanelleDirList.dat"
bg=$(winpath "$root/samples/evening-hills-1600x1200.jpg")
text=$(winpath "$root/samples/captions.txt")
crlf_sjis >"$stage/Orvanelle.ini" <<EOF
[Search]
SubFolder=0
ReportError=1
UseSusiePlugin=0
CheckSize=4096
CheckWidth=320
CheckHeight=240
[Screen]
RandamDisplay=1
StretchDraw=1
BGColor=\$00302018
UseBGImageCheck=1
BGImagePath=$bg
ShowTextKind=3
SelectTextFileName=$text
TextArrangement=3
TextAlign=1
TextLayout=2
TextWrap=1
Interval=8
BlankScreenInterval=2
WindowBorder=10
Transition=1
TransitionTime=1500
[Font]
Name=ＭＳ Ｐゴシック
CharSet=128
Size=20
Color=clWhite
Bold=1
[Event]
MouseClick=1
MouseMove=0
EOF

mkdir -p "$out"
rm -f "$out"/*.png
(cd "$stage" && exec "$ORV_WINE" Orvanelle.scr /c) &
pid=$!

# The dialog's X window carries its caption; the dialog is up when it is
# mapped (without a window manager nothing else titles a window so).
dlg=
for ((i = 0; i < 300; i++)); do
  dlg=$(xdotool search --onlyvisible --name '^設定$' 2>/dev/null | head -1) || true
  [[ -n $dlg ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $dlg ]]; then
  echo "dialog-screenshots: the settings dialog did not open" >&2
  exit 1
fi
# The pointer out of the way, so no hint covers the page. Without a window
# manager the X focus follows the pointer: give it to the dialog, so keys
# reach it wherever the pointer is.
xdotool mousemove 1023 767
xdotool windowfocus "$dlg"
sleep 1.5
shot() { import -window root "$out/$1.png"; }
pages=(1-files 2-search 3-display1 4-display2 5-display3 6-events 7-about)
for ((p = 0; p < ${#pages[@]}; p++)); do
  shot "page${pages[p]}"
  xdotool key ctrl+Tab
  sleep 0.8
done
# Seven switches come back to the first page.
shot page1-again

probe() {
  "$ORV_WINE" "${ORV_DIALOG_BUILD:-build/win}/tools/dialogprobe/dialogprobe.exe" "$@" 2>/dev/null |
    tr -d '\r' | iconv -f CP932 -t UTF-8 -c
}
# The first line of `dialogprobe windows` matching the pattern, within
# about ten seconds.
probe_until() {
  local i line
  for ((i = 0; i < 50; i++)); do
    line=$(probe windows | grep -m1 -e "$1") && {
      echo "$line"
      return 0
    }
    sleep 0.2
  done
  return 1
}
# The picker of the button with this control id, opened by a click on its
# centre, is shot once it is up and closed with Esc.
picker() {
  local id=$1 name=$2 r line
  read -r -a r <<<"$(probe rect "$id")"
  [[ ${#r[@]} -eq 4 ]] || {
    echo "dialog-screenshots: no button $id on this page" >&2
    return 1
  }
  xdotool mousemove $(((r[0] + r[2]) / 2)) $(((r[1] + r[3]) / 2)) click 1
  line=$(probe_until '^window ') || {
    echo "dialog-screenshots: button $id opened no picker" >&2
    return 1
  }
  sleep 1
  echo "dialog-screenshots: $name: $line"
  shot "picker-$name"
  if [[ ${3:-} == grow ]]; then
    read -r -a r <<<"${line#window }"
    # The size grip sits in the bottom right corner, inside the frame.
    xdotool mousemove $((r[2] - 9)) $((r[3] - 7)) mousedown 1
    sleep 0.3
    xdotool mousemove $((r[2] + 46)) $((r[3] + 21))
    sleep 0.3
    xdotool mousemove $((r[2] + 96)) $((r[3] + 46)) mouseup 1
    sleep 1
    echo "dialog-screenshots: $name grown: $(probe windows | grep '^window ' | head -1)"
    shot "picker-$name-grown"
  fi
  xdotool key Escape
  # Back when the dialog takes input again (Wine stalls as the picker hides).
  probe_until '^dialog .* enabled=1' >/dev/null || true
  sleep 2.5
}
pages() {
  local k
  for k in "$@"; do
    xdotool key "$k"
    sleep 0.8
  done
}
if [[ ${ORV_DIALOG_PICKERS:-} == 1 ]]; then
  probe windows | grep -v '^window ' | sed 's/^/dialog-screenshots: /'
  picker 1102 folder || true
  pages ctrl+Tab ctrl+Tab
  picker 1306 font || true
  picker 1307 colour || true
  picker 1310 bgimage grow || true
  picker 1310 bgimage-again || true
  pages ctrl+Tab ctrl+Tab
  picker 1503 textfile || true
  pages ctrl+Tab ctrl+Tab ctrl+Tab
fi


# Esc is Cancel: the dialog ends and leaves the settings as they were.
if [[ -n ${ORV_DIALOG_HOLD:-} ]]; then
  echo "dialog-screenshots: dialog $dlg open on $DISPLAY, pid $pid; holding until $ORV_DIALOG_HOLD exists"
  while [[ ! -e $ORV_DIALOG_HOLD ]] && kill -0 "$pid" 2>/dev/null; do sleep 0.5; done
fi
# Without a window manager Wine stalls a few seconds when a captioned window
# hides.
xdotool key Escape
for ((i = 0; i < 200; i++)); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "dialog-screenshots: the dialog did not close on Esc" >&2
  wineserver -k || true
fi
wait "$pid" 2>/dev/null || true
orv_xvfb_stop
echo "dialog-screenshots: $(ls "$out" | wc -l) screenshots at $dpi DPI in $out"
