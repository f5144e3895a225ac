#!/usr/bin/env bash
# The demo: builds the screen saver, puts it with a small settings file and a
# picture list of the bundled samples into build/demo/, and starts it in
# full-screen mode under Wine.
#   With a usable DISPLAY it runs there until you press a key.
#   Without one it runs for about 20 seconds on a private 1024x768 X server,
#   saves a screenshot every few seconds to screenshots/ and then ends it.
#   ORV_DEMO_SECONDS   length of the unattended run (default 20)
#   ORV_SKIP_SETUP=1   do not run scripts/setup.sh
#   ORV_DEMO_BUILD=dir take the module from this (configured) build tree
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cd "$root"

if [[ ${ORV_SKIP_SETUP:-0} != 1 ]]; then
  bash "$here/setup.sh"
fi
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

# The module ships as the 32-bit build; where this kernel cannot run 32-bit
# Wine, the demo shows the 64-bit build of the same sources instead.
if [[ $ORV_WINE_BITS == 32 ]]; then
  dir=build/win toolchain=cmake/toolchain-i686-mingw32.cmake target=i686-w64-mingw32
else
  echo "run-demo: this kernel cannot run 32-bit Wine; showing the 64-bit build"
  dir=build/win64 toolchain=cmake/toolchain-x86_64-mingw32.cmake target=x86_64-w64-mingw32
fi
dir=${ORV_DEMO_BUILD:-$dir}
module=$dir/app/Orvanelle.scr

mkdir -p build
if [[ ! -f $dir/build.ninja ]]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
    -DORV_DEPS_PREFIX="/var/cache/orvanelle/$target" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    echo "run-demo: configuring $dir failed" >&2
    exit 1
  }
fi
if ! ninja -C "$dir" -j "${ORV_JOBS:-2}" Orvanelle || [[ ! -f $module ]]; then
  echo "run-demo: the screen saver module $module could not be built;" >&2
  echo "run-demo: see the compiler output above." >&2
  exit 1
fi

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$module" "$demo/Orvanelle.scr"

orv_wine_prefix
# Choose the display before the first Wine program: the Wine session it
# starts keeps the display it found for the programs that follow.
interactive=0
if orv_display_usable; then
  interactive=1
else
  orv_xvfb_start
fi
crlf_sjis() { sed 's/$/\r/' | iconv -f UTF-8 -t CP932; }

crlf_sjis >"$demo/Orvanelle.ini" <<'EOF'
[Screen]
Interval=3
BlankScreenInterval=1
WindowBorder=10
ShowTextKind=1
TextArrangement=3
TextAlign=1
BGColor=$00302018
Transition=2
TransitionTime=1500
[Font]
Name=IPAGothic
Size=20
Color=clWhite
[Event]
MouseMove=0
EOF

# The picture list holds Windows paths; Wine sees the Unix root as Z:.
pictures=()
for f in samples/*.jpg samples/*.jpeg samples/*.bmp samples/*.png; do
  [[ -f $f ]] && pictures+=("$root/$f")
done
if [[ ${#pictures[@]} -eq 0 ]]; then
  echo "run-demo: no sample pictures in samples/" >&2
  exit 1
fi
orv_wine winepath.exe -w "${pictures[@]}" 2>/dev/null | tr -d '\r' | crlf_sjis >"$demo/OrvanelleFileList.dat"
if [[ $(wc -l <"$demo/OrvanelleFileList.dat") -ne ${#pictures[@]} ]]; then
  echo "run-demo: winepath did not convert the sample paths" >&2
  exit 1
fi
: >"$demo/OrvanelleDirList.dat"

if [[ $interactive -eq 1 ]]; then
  echo "run-demo: starting the screen saver on $DISPLAY; press a key to end it"
  cd "$demo"
  orv_wine Orvanelle.scr /s
  exit $?
fi

seconds=${ORV_DEMO_SECONDS:-20}
shots=$root/screenshots
rm -rf "$shots"
mkdir -p "$shots"
echo "run-demo: no display; running $seconds s on a private X server ($DISPLAY)"
(cd "$demo" && exec "$ORV_WINE" Orvanelle.scr /s) &
pid=$!
n=0
for ((t = 0; t < seconds; t += 2)); do
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "run-demo: the screen saver ended by itself after about $t s" >&2
    break
  fi
  n=$((n + 1))
  import -window root "$(printf '%s/demo-%02d.png' "$shots" "$n")"
done

# A key press ends the screen saver, as it would on Windows.
if kill -0 "$pid" 2>/dev/null; then
  xdotool key space || true
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
fi
rc=0
if kill -0 "$pid" 2>/dev/null; then
  echo "run-demo: the screen saver did not end on a key press; stopping it"
  wineserver -k || true
  wait "$pid" 2>/dev/null || true
else
  wait "$pid" || rc=$?
  echo "run-demo: the screen saver ended with exit code $rc"
fi
orv_xvfb_stop
echo "run-demo: $n screenshots in $shots"
