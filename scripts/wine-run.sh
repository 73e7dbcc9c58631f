#!/usr/bin/env bash
# Runs a Windows executable under Wine in the build tree's own prefix.
# CTest calls this as the cross-compiling emulator: wine-run.sh PROGRAM ARGS...
# The prefix is "wineprefix" in the nearest directory above PROGRAM that holds
# CMakeCache.txt, unless WINEPREFIX is already set.
set -euo pipefail

prog=$1
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  # Run outside the test script (plain ctest): give the program a display.
  exec xvfb-run -a "$0" "$@"
fi
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$prog")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run: no build tree above $prog" >&2; exit 2; }
  export WINEPREFIX=$dir/wineprefix
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

if [ ! -d "$WINEPREFIX" ]; then
  # First use: make the prefix once (tens of seconds); later runs reuse it.
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Wine's own background processes (services, explorer, ...) outlive the
# program and inherit its output pipes, which makes CTest wait for them until
# its time-out. Start them here with no pipes attached; when they are already
# up this costs a few milliseconds.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

exec wine "$@"
