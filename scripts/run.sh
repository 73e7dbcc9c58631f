#!/usr/bin/env bash
# The run command: installs what is missing, builds QMLoader.exe (windows
# preset) and qmpack (native-release preset), and runs the demo
# (scripts/demo.sh): a release set made with qmpack, served on the loopback
# address built into the program, and QMLoader.exe under Wine in a fresh
# folder.
#
#   bash scripts/run.sh          with a display: you drive the window;
#                                without one: driven automatically under Xvfb
#   bash scripts/run.sh --auto   driven automatically: every step, a picture
#                                of each, every target checked, a report
# QM_WINDOWS_BUILD and QM_NATIVE_BUILD name other build folders (defaults
# build/demo-windows and build/native-release). The demo's Windows build is a
# folder of its own because it carries the demo release key: build/windows,
# which the tests and a hand build use, stays without one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  ""|--auto) ;;
  *) echo "usage: bash scripts/run.sh [--auto]" >&2; exit 2 ;;
esac

export QM_WINDOWS_BUILD=${QM_WINDOWS_BUILD:-$root/build/demo-windows}
export QM_NATIVE_BUILD=${QM_NATIVE_BUILD:-$root/build/native-release}

bash "$root/scripts/install-deps.sh"
echo "== building qmpack ($QM_NATIVE_BUILD)"
[ -f "$QM_NATIVE_BUILD/CMakeCache.txt" ] || cmake -S "$root" -B "$QM_NATIVE_BUILD" --preset native-release >/dev/null
cmake --build "$QM_NATIVE_BUILD" --target qmpack
# The demo's release key pair, made once; the program is built with its
# public half and the demo signs its set with the private half.
export QM_DEMO_KEY=$root/build/demo-key/demo
if [ ! -f "$QM_DEMO_KEY.priv" ]; then
  mkdir -p "$(dirname "$QM_DEMO_KEY")"
  "$QM_NATIVE_BUILD/tools/qmpack/qmpack" keygen "$QM_DEMO_KEY.priv" "$QM_DEMO_KEY.pub"
fi
echo "== building QMLoader.exe with the demo key, and the demo programs ($QM_WINDOWS_BUILD)"
cmake -S "$root" -B "$QM_WINDOWS_BUILD" --preset windows -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF \
  -DQM_RELEASE_PUBLIC_KEY="$QM_DEMO_KEY.pub" >/dev/null
cmake --build "$QM_WINDOWS_BUILD" --target QMLoader demo-setup demo-driver

exec bash "$root/scripts/demo.sh" "$@"
