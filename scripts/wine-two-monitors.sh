#!/usr/bin/env bash
# Runs one Windows program under Wine on a desktop of two monitors: a
# 1024 x 768 primary and a 600 x 800 portrait monitor left of it (see
# orv_two_monitors_start in wine-env.sh). Used by ctest for the end-to-end
# tests of the show on several monitors, which skip their cases anywhere
# else (ORV_TWO_MONITORS tells them where they are). With ORV_SHOTS_DIR set
# (a Windows path) they leave screenshots of both monitors there. Exit code:
# the program's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
orv_two_monitor_prefix
orv_two_monitors_start
export ORV_TWO_MONITORS=1
set +e
orv_wine "$@"
rc=$?
set -e
exit $rc
