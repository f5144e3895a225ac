#!/usr/bin/env bash
# The installer under Wine, silently, as a user without administrator
# rights would run it:
#   install_test.sh <Orvanelle-<version>-setup.exe> <staged release folder> <version>
# 1. setup.exe /S puts every file of the release into
#    %LOCALAPPDATA%\Programs\Orvanelle and registers the uninstaller for
#    the current user only; for a new user (no Orvanelle.ini yet) it
#    switches on pan and zoom with cross-fades, and the plug-ins it
#    installed in plugins\;
# 2. Uninstall.exe /S removes the module, the texts and itself and keeps
#    the user's settings file (and so the folder);
# 3. after a second install, Uninstall.exe /S /REMOVESETTINGS leaves
#    neither the folder nor the registration.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
setup=$1 stage=$2 version=$3
# shellcheck source=../../scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
orv_wine_prefix
orv_display_usable || orv_xvfb_start

fail() {
  echo "install_test: $*" >&2
  exit 1
}
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvanelle'
registered() { orv_wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }

local_app=$(orv_wine cmd /c echo '%LOCALAPPDATA%' | tr -d '\r')
target_win="$local_app\\Programs\\Orvanelle"
target=$(orv_wine winepath -u "$target_win" 2>/dev/null | tr -d '\r')
[[ -n $local_app && -n $target && $local_app != '%LOCALAPPDATA%' ]] || fail "no %LOCALAPPDATA% in this prefix"
rm -rf "$target"
orv_wine reg delete "$key" /f >/dev/null 2>&1 || true

# Asks for no elevation: a user without administrator rights can run it.
grep -aq 'level="asInvoker"' "$setup" || fail "the installer asks for elevation"

install() {
  orv_wine "$setup" /S || fail "setup.exe /S failed"
  (cd "$stage" && find . -type f) | while read -r f; do
    cmp -s "$stage/$f" "$target/$f" || fail "installed $f differs or is missing"
  done
  [[ -f $target/Uninstall.exe ]] || fail "no uninstaller"
  [[ $(registered DisplayVersion) == "$version" ]] || fail "registered version: '$(registered DisplayVersion)'"
  [[ $(registered InstallLocation) == "$target_win" ]] || fail "registered folder: '$(registered InstallLocation)'"
}

# The uninstaller runs from a copy in the temporary folder, so that it can
# delete itself; the first process ends at once. Wait for its work.
uninstall() {
  orv_wine "$target/Uninstall.exe" /S "$@" || fail "Uninstall.exe /S $* failed"
  for ((i = 0; i < 300; i++)); do
    [[ ! -e $target/Uninstall.exe ]] && ! registered DisplayName | grep -q . && return 0
    sleep 0.2
  done
  fail "the uninstaller did not finish"
}

install
ini=$(tr -d '\r' <"$target/Orvanelle.ini" 2>/dev/null) || fail "no Orvanelle.ini for a new user"
grep -qx 'Transition=2' <<<"$ini" || fail "pan and zoom not switched on: $ini"
[[ $(grep -c '^\[Screen\]' <<<"$ini") -eq 1 ]] || fail "transition not in one [Screen]: $ini"
[[ $(sed -n '/^\[Screen\]/,/^\[/p' <<<"$ini") == *$'\nTransition=2'* ]] ||
  fail "transition outside [Screen]: $ini"
if [[ -d $stage/plugins ]]; then
  for f in orvheif.spi orvavif.spi orvwebp.spi orvheifcodec.dll; do
    [[ -f $target/plugins/$f ]] || fail "plugins\\$f not installed"
  done
  grep -qx 'UseSusiePlugin=1' <<<"$ini" || fail "plug-ins not switched on: $ini"
  grep -qxF "PluginFolder=$target_win\plugins" <<<"$ini" || fail "plug-in folder not set: $ini"
  [[ $(grep -c '^\[Search\]' <<<"$ini") -eq 1 ]] || fail "settings not in [Search]: $ini"
fi
# From here on the user has settings of their own, which the uninstaller
# keeps and a new install leaves alone.
printf '[Screen]\r\nInterval=7\r\n' >"$target/Orvanelle.ini"
uninstall
[[ -f $target/Orvanelle.ini ]] || fail "a silent uninstall removed the settings"
left=$(cd "$target" && find . -mindepth 1 ! -name Orvanelle.ini)
[[ -z $left ]] || fail "left behind: $left"

install
[[ $(tr -d '\r' <"$target/Orvanelle.ini") == $'[Screen]\nInterval=7' ]] || fail "reinstalling changed the settings"
uninstall /REMOVESETTINGS
[[ ! -e $target ]] || fail "the folder is still there: $(ls -A "$target")"
echo "install_test: installed into $target_win and removed again"
