#!/usr/bin/env bash
# The project's one test command. Prepares the machine, builds
#   build/native  the portable core with AddressSanitizer and UBSan, its
#                 tests, the benchmarks and the fuzz replay program
#   build/win     the 32-bit Windows build: the module Orvanelle.scr and tests
#   build/win64   (only where this kernel cannot run 32-bit Wine) the same
#                 sources for 64-bit Windows, whose tests run under wine64
# runs the native tests, then the Windows tests under Wine on a private X
# server, and ends with one line "N passed, N failed" counting single test
# cases over all runs. Exits non-zero when anything failed, a build included.
#
#   ORV_SKIP_SETUP=1   do not run scripts/setup.sh (it needs root on a
#                      machine where something is missing)
#   ORV_JOBS=n         parallel compile jobs (default 2)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cd "$root"
jobs=${ORV_JOBS:-2}
passed=0
failed=0
started=$SECONDS

stage() { printf '\n=== %s (%ds)\n' "$*" $((SECONDS - started)); }

if [[ ${ORV_SKIP_SETUP:-0} != 1 ]]; then
  stage "set-up"
  if ! bash "$here/setup.sh"; then
    echo "test: set-up failed" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
fi

# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

# What Wine's X11 driver opens at run time is installed for each Wine (a
# missing libXinerama makes Wine see one monitor and say nothing).
stage "Wine's X libraries"
if bash "$here/check-wine-libs.sh"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# Configures and builds one tree; a failure counts as one failed test, and
# whatever did build is still tested.
build() {
  local dir=$1 label=$2
  shift 2
  stage "configure $label"
  if ! cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"
    echo "test: configuring $label failed" >&2
    failed=$((failed + 1))
    return 1
  fi
  stage "build $label"
  if ! ninja -C "$dir" -j "$jobs" -k 0; then
    echo "test: building $label failed" >&2
    failed=$((failed + 1))
  fi
  return 0
}

# Adds up the single cases of one GoogleTest XML report: prints "run failed".
# Disabled cases (not run) and skipped ones count as neither.
count_xml() {
  awk '
    /<testcase / {
      open = 0
      if ($0 ~ /status="run"/ && $0 !~ /result="skipped"/) {
        run++
        if ($0 !~ /\/>[[:space:]]*$/) open = 1
      }
      marked = 0
      next
    }
    /<failure/ { if (open && !marked) { bad++; marked = 1 } next }
    /<\/testcase>/ { open = 0 }
    END { printf "%d %d\n", run, bad }
  ' "$1"
}

# Runs ctest in a build tree and adds its results to the totals. GoogleTest
# programs (orv_add_gtest) count case by case from their XML reports; any
# other test counts once. A program that failed without a failing case
# (a crash, a sanitizer report at exit) adds one failure.
run_ctest() {
  local dir=$1 label=$2 results=$1/test-results
  stage "run tests: $label"
  rm -rf "$results"
  mkdir -p "$results"
  # ctest leaves the list of a past run's failures in place.
  rm -f "$dir/Testing/Temporary/LastTestsFailed.log"
  ctest --test-dir "$dir" --output-on-failure --timeout 1500
  local names gtests failed_names name run bad
  failed_names=$(sed -n 's/^[0-9]*://p' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null || true)
  names=$(ctest --test-dir "$dir" -N | sed -n 's/^ *Test *#[0-9]*: //p')
  # -FA: without the fixtures a selected test needs (they carry no label).
  gtests=$(ctest --test-dir "$dir" -N -L '^gtest$' -FA '.*' | sed -n 's/^ *Test *#[0-9]*: //p')
  if [[ -z $names ]]; then
    echo "test: $label has no tests registered" >&2
    failed=$((failed + 1))
    return
  fi
  while IFS= read -r name; do
    [[ -n $name ]] || continue
    local ctest_failed=0
    if grep -qxF "$name" <<<"$failed_names"; then ctest_failed=1; fi
    if [[ -f $results/$name.xml ]]; then
      read -r run bad < <(count_xml "$results/$name.xml")
      if [[ $ctest_failed -eq 1 && $bad -eq 0 ]]; then
        echo "test: $label/$name failed outside its test cases" >&2
        bad=1
        run=$((run + 1))
      fi
      passed=$((passed + run - bad))
      failed=$((failed + bad))
      echo "test: $label/$name: $((run - bad)) passed, $bad failed"
    elif grep -qxF "$name" <<<"$gtests"; then
      echo "test: $label/$name: ended without its report (exit in the middle of a case?)" >&2
      failed=$((failed + 1))
    elif [[ $ctest_failed -eq 1 ]]; then
      echo "test: $label/$name: failed" >&2
      failed=$((failed + 1))
    else
      passed=$((passed + 1))
    fi
  done <<<"$names"
}

mkdir -p build
if build build/native "native" -DORV_SANITIZE=ON -DORV_BENCH=ON -DORV_FUZZ=ON; then
  run_ctest build/native "native"
fi

if build build/win "Windows 32-bit" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
  -DORV_DEPS_PREFIX=/var/cache/orvanelle/i686-w64-mingw32; then
  win_tests_dir=build/win
fi
if [[ $ORV_WINE_BITS == 64 ]]; then
  echo "test: 32-bit Wine does not run here (this kernel cannot run 32-bit programs, or set-up" \
    "could not install the 32-bit Wine: see its warnings); the Windows tests run on a 64-bit build"
  win_tests_dir=
  if build build/win64 "Windows 64-bit" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw32.cmake" \
    -DORV_DEPS_PREFIX=/var/cache/orvanelle/x86_64-w64-mingw32; then
    win_tests_dir=build/win64
  fi
fi

# The photo plug-ins' libraries in every prefix were built from the sources
# scripts/photo-libs.pins pins, and the staged release names those.
stage "photo libraries against their pins"
if bash "$here/check-photo-libs.sh"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

if [[ -n ${win_tests_dir:-} ]]; then
  stage "Wine prefix and X server"
  if orv_wine_prefix && orv_xvfb_start; then
    run_ctest "$win_tests_dir" "Windows (Wine, $WINEARCH)"
    orv_xvfb_stop
  else
    echo "test: Wine or Xvfb could not be started" >&2
    failed=$((failed + 1))
  fi
fi

stage "done"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
