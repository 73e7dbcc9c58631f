#!/usr/bin/env bash
# Saves PNG pictures of the program's windows (main window idle, transferring
# and complete, proxy dialog) under Wine with a virtual display, into
# docs/screenshots (or $1).
# Builds test_app in $QM_BUILD_DIR (default build/windows) first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QM_BUILD_DIR:-$root/build/windows}
out=$(mkdir -p "${1:-$root/docs/screenshots}" && cd "${1:-$root/docs/screenshots}" && pwd)

bash "$root/scripts/install-deps.sh" >/dev/null
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" --preset windows >/dev/null
cmake --build "$build" --target test_app >/dev/null

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
# The windows test executable draws each window and saves the screen's pixels
# under it; the first start only sets Wine up (see tests/app/LoaderFixture.h).
"$root/scripts/wine-run.sh" "$build/tests/app/test_app.exe" --gtest_filter=-* >/dev/null
QM_SCREENSHOT_DIR="Z:${shots//\//\\}" \
  "$root/scripts/wine-run.sh" "$build/tests/app/test_app.exe" --gtest_filter='ScreenshotTest.*' --gtest_brief=1

for bmp in "$shots"/*.bmp; do
  png=$out/$(basename "${bmp%.bmp}").png
  convert "$bmp" -strip "$png"
  echo "$png"
done
