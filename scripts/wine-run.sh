#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's environment; used
# by ctest as the emulator of the Windows builds. Starts a private X server
# for the run when DISPLAY names none. Exit code: the program's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
orv_wine_prefix
if ! orv_display_usable; then
  orv_xvfb_start
fi
set +e
orv_wine "$@"
rc=$?
set -e
exit $rc
