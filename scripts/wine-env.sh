# Wine environment for running the Windows build. Source it:
#   source scripts/wine-env.sh
#   orv_wine_prefix          # creates the prefix on first use
#   orv_xvfb_start           # private 1024x768x24 X server, stopped on exit
#   orv_wine build/win/tests/win_tests.exe
#
# The program is built for a Japanese Windows: strings are Shift-JIS and the
# A functions expect code page 932. Wine takes the ANSI code page from the
# locale, and only LC_ALL (not LANG alone) reliably overrides what the
# caller's shell has set.
#
# The module ships as a 32-bit program, but some kernels (virtual machines
# built without IA-32 emulation) cannot execute the 32-bit Wine loader at
# all. There the Windows tests run on a 64-bit build under the 64-bit loader
# instead; ORV_WINE_BITS says which one this machine uses.

export WINEDEBUG=${ORV_WINEDEBUG:--all}
export LC_ALL=ja_JP.UTF-8

# True when this kernel itself runs 32-bit x86 Linux programs (wineserver32
# is one; --version only prints and exits). A qemu-i386 handler registered
# with binfmt_misc would make the probe succeed through user-mode emulation,
# under which Wine takes minutes to start and then hangs: that counts as no.
orv_can_run_i386() {
  local f
  for f in /proc/sys/fs/binfmt_misc/*; do
    if [[ -f $f ]] && grep -q '^interpreter .*qemu-i386' "$f" 2>/dev/null &&
      grep -qx enabled "$f" 2>/dev/null; then
      return 1
    fi
  done
  [[ -x /usr/lib/wine/wineserver32 ]] &&
    timeout 20 /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

if [[ -z ${ORV_WINE_BITS:-} ]]; then
  if orv_can_run_i386; then ORV_WINE_BITS=32; else ORV_WINE_BITS=64; fi
fi
export ORV_WINE_BITS
if [[ $ORV_WINE_BITS == 32 ]]; then
  export ORV_WINE=/usr/lib/wine/wine WINEARCH=win32
else
  export ORV_WINE=/usr/lib/wine/wine64 WINEARCH=win64
fi
# Debian's wine wrapper always prefers the 32-bit loader when installed;
# Wine starts its helper processes through WINELOADER.
export WINELOADER=$ORV_WINE

if [[ -z ${WINEPREFIX:-} ]]; then
  if [[ $(id -u) -eq 0 ]]; then
    WINEPREFIX=/var/cache/orvanelle/wineprefix-$WINEARCH
  else
    # Wine refuses a prefix that belongs to another user.
    WINEPREFIX=${XDG_CACHE_HOME:-$HOME/.cache}/orvanelle/wineprefix-$WINEARCH
  fi
fi
export WINEPREFIX

# Runs a Windows program with the loader chosen above; its exit code is the
# program's.
orv_wine() {
  "$ORV_WINE" "$@"
}

# Creates the prefix when it does not exist yet and waits until Wine has
# finished writing it, so the first test does not race the registry set-up.
orv_wine_prefix() {
  if [[ -f $WINEPREFIX/system.reg && -f $WINEPREFIX/.orv-ready ]]; then
    orv_wine_fonts
    return 0
  fi
  echo "wine-env: creating the Wine prefix $WINEPREFIX ($WINEARCH)" >&2
  mkdir -p "$(dirname "$WINEPREFIX")"
  # No Mono or Gecko: nothing here needs them, and their installers would
  # ask questions on the screen.
  local boot='WINEDLLOVERRIDES="mscoree,mshtml=" timeout 600 "$ORV_WINE" wineboot --init >/dev/null 2>&1
    timeout 300 wineserver -w'
  if [[ $ORV_WINE_BITS == 64 && $(id -u) -eq 0 ]] && command -v unshare >/dev/null; then
    # A 64-bit prefix also sets up its 32-bit half by starting the 32-bit
    # loader, which fails at once where the kernel cannot run it, but takes
    # minutes and may never end where qemu-i386 is registered to emulate it.
    # Hide the loader from this one run in a private mount namespace.
    boot="mount --bind /dev/null /usr/lib/wine/wine 2>/dev/null; $boot"
    (unset DISPLAY && unshare -m --propagation private bash -c "$boot") || true
  else
    (unset DISPLAY && bash -c "$boot") || true
  fi
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine-env: wineboot did not create $WINEPREFIX" >&2
    return 1
  fi
  touch "$WINEPREFIX/.orv-ready"
  orv_wine_fonts
}

# The dialogs ask for the fonts of a Japanese Windows; Wine has none of them
# and would fall back to whatever font it finds, often one without Japanese
# glyphs. Map them to the IPA fonts (fonts-ipafont-gothic), the proportional
# one for the proportional faces, so text is measured and drawn close to
# what a Japanese Windows shows. Also run for a prefix made before this
# mapping existed: the marker says it is done.
orv_wine_fonts() {
  local marker=$WINEPREFIX/.orv-fonts-1 reg
  if [[ -f $marker ]]; then
    return 0
  fi
  reg=$(mktemp /tmp/orv-fonts.XXXXXX)
  # regedit reads UTF-16LE with a byte order mark, whatever the code page.
  {
    printf '\xef\xbb\xbf'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
      '"ＭＳ Ｐゴシック"="IPAPGothic"' \
      '"ＭＳ ゴシック"="IPAGothic"' \
      '"MS UI Gothic"="IPAPGothic"' \
      '"MS PGothic"="IPAPGothic"' \
      '"MS Gothic"="IPAGothic"' ''
  } | iconv -f UTF-8 -t UTF-16LE >"$reg"
  if (unset DISPLAY && "$ORV_WINE" regedit /S "Z:${reg//\//\\}" &&
    timeout 60 wineserver -w) >/dev/null 2>&1 &&
    "$ORV_WINE" reg query 'HKCU\Software\Wine\Fonts\Replacements' 2>/dev/null |
    iconv -f CP932 -t UTF-8 2>/dev/null | grep -q 'ＭＳ Ｐゴシック.*IPAPGothic'; then
    touch "$marker"
  else
    echo "wine-env: could not set the font replacements in $WINEPREFIX" >&2
  fi
  rm -f "$reg"
}

# Runs a command when the calling shell exits, after any exit handlers it
# already has.
orv_on_exit() {
  local prev
  prev=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
  # shellcheck disable=SC2064
  trap "${prev:+$prev; }$1" EXIT
}

orv_xvfb_pid=
# Starts Xvfb at 1024x768x24 on the display given (":91") or on a free one,
# exports DISPLAY and stops the server (and Wine, which holds a connection
# to it) when the shell exits.
orv_xvfb_start() {
  local want=${1:-} out n= i
  out=$(mktemp /tmp/orv-xvfb.XXXXXX)
  if [[ -n $want ]]; then
    Xvfb "$want" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    orv_xvfb_pid=$!
    n=${want#:}
  else
    # -displayfd: the server picks a free display and writes its number.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out" >/dev/null 2>&1 &
    orv_xvfb_pid=$!
  fi
  orv_on_exit "orv_xvfb_stop"
  for ((i = 0; i < 100; i++)); do
    if [[ -z $want ]]; then
      n=$(tr -dc '0-9' <"$out")
    fi
    if [[ -n $n ]] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
      rm -f "$out"
      export DISPLAY=":$n"
      return 0
    fi
    if ! kill -0 "$orv_xvfb_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  rm -f "$out"
  echo "wine-env: Xvfb did not start${want:+ on $want}" >&2
  return 1
}

orv_xvfb_stop() {
  if [[ -n $orv_xvfb_pid ]]; then
    # Wine's processes hold connections to the display: end them first.
    wineserver -k >/dev/null 2>&1 || true
    kill "$orv_xvfb_pid" 2>/dev/null || true
    wait "$orv_xvfb_pid" 2>/dev/null || true
    orv_xvfb_pid=
  fi
}

# True when DISPLAY names an X server that answers.
orv_display_usable() {
  [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1
}

# Two monitors under Wine. Wine lists several monitors when it reads them
# from Xinerama instead of XRandR: an Xvfb as the host display, a Xephyr
# inside it with Xinerama and two screens side by side (a 600 x 800
# portrait one, then a 1024 x 768 one), and a Wine prefix of its own that
# reads Xinerama and makes the 1024 x 768 screen the primary monitor. Windows
# programs then see the primary at 0, 0 and the portrait monitor at -600, 0.
# The prefix is a separate one (WINEPREFIX with "-twomonitors" appended), so
# the settings never reach the prefix the other tests use.
orv_two_monitor_prefix() {
  case $WINEPREFIX in
    *-twomonitors) ;;
    *) export WINEPREFIX=$WINEPREFIX-twomonitors ;;
  esac
  orv_wine_prefix || return 1
  local marker=$WINEPREFIX/.orv-twomonitors-1
  [[ -f $marker ]] && return 0
  (unset DISPLAY &&
    "$ORV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f &&
    "$ORV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v PrimaryMonitor /t REG_SZ /d 1 /f &&
    timeout 60 wineserver -w) >/dev/null 2>&1 || {
    echo "wine-env: could not set the two-monitor keys in $WINEPREFIX" >&2
    return 1
  }
  touch "$marker"
}

orv_xephyr_pid=
# Starts the host Xvfb and the two-screen Xephyr in it, exports DISPLAY as
# the Xephyr's and stops both (and Wine) when the shell exits.
orv_two_monitors_start() {
  orv_xvfb_start || return 1
  local host=$DISPLAY out n= i
  out=$(mktemp /tmp/orv-xephyr.XXXXXX)
  DISPLAY=$host Xephyr -displayfd 3 +xinerama -screen 600x800 -screen 1024x768 \
    -nolisten tcp -noreset 3>"$out" >/dev/null 2>&1 &
  orv_xephyr_pid=$!
  orv_on_exit "orv_two_monitors_stop"
  for ((i = 0; i < 100; i++)); do
    n=$(tr -dc '0-9' <"$out")
    if [[ -n $n ]] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
      rm -f "$out"
      export ORV_HOST_DISPLAY=$host DISPLAY=":$n"
      return 0
    fi
    kill -0 "$orv_xephyr_pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$out"
  echo "wine-env: Xephyr did not start" >&2
  return 1
}

orv_two_monitors_stop() {
  if [[ -n $orv_xephyr_pid ]]; then
    wineserver -k >/dev/null 2>&1 || true
    kill "$orv_xephyr_pid" 2>/dev/null || true
    wait "$orv_xephyr_pid" 2>/dev/null || true
    orv_xephyr_pid=
  fi
}
