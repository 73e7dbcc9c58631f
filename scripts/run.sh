#!/usr/bin/env bash
# Builds the release QMLoader.exe (installing what is missing) and says where
# it is. With --wine it then starts it under Wine in the current directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/install-deps.sh"
cmake -S "$root" --preset windows >/dev/null
cmake --build "$root/build/windows" --target QMLoader
exe=$root/build/windows/src/app/QMLoader.exe
echo "QMLoader.exe: $exe"

if [ "${1:-}" = "--wine" ]; then
  export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  exec wine "$exe"
fi
