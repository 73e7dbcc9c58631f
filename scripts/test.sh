#!/usr/bin/env bash
# The one test command: installs what is missing, builds the native (ASan+UBSan),
# fuzz and Windows presets, runs every test (Windows ones under Wine), and ends
# with "N passed, N failed" over all suites. Exit status is non-zero on any
# failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh || exit 1

step() { echo; echo "== $*"; }
fail=0
build() {
  step "configure and build: $1"
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -- -k 0 || fail=1
}
build native
build fuzz
build windows

# --- Wine: one hermetic prefix, one display, one persistent wineserver -------
export WINEPREFIX=$root/build/windows/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 91 120); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    break
  done
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
if [ ! -d "$WINEPREFIX" ]; then
  step "creating the Wine prefix (once)"
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
wineserver -p  # stay up between test programs
wine cmd /c exit </dev/null >/dev/null 2>&1  # start Wine's services off CTest's pipes

# --- run ---------------------------------------------------------------------
reports=()
run_suite() {
  step "tests: $1"
  local junit=$root/build/$1/junit.xml
  rm -f "$junit"
  ctest --preset "$1" --output-junit "$junit" \
        --test-output-size-passed 1000000 --test-output-size-failed 1000000 || fail=1
  reports+=("$1=$junit")
}
run_suite native
run_suite fuzz
run_suite windows

step "summary"
python3 scripts/count-tests.py "${reports[@]}" || fail=1
exit $fail
