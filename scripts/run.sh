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
#   bash scripts/run.sh --https [--auto]
#                                the same over HTTPS: the program is built for
#                                https://localhost:8443/veldra/, and a demo
#                                certificate authority is trusted inside the
#                                demo's Wine prefix only
# The program is built with a mirror as its second source (port 8081, 8444
# with --https), which the demo serves beside the server.
# QM_WINDOWS_BUILD and QM_NATIVE_BUILD name other build folders (defaults
# build/demo-windows, build/demo-windows-https with --https, and
# build/native-release). The demo's Windows build is a
# folder of its own because it carries the demo release key: build/windows,
# which the tests and a hand build use, stays without one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
https=0
for arg in "$@"; do
  case "$arg" in
    --auto) ;;
    --https) https=1 ;;
    *) echo "usage: bash scripts/run.sh [--auto] [--https]" >&2; exit 2 ;;
  esac
done
base_url=http://127.0.0.1:8080/veldra/ mirror_url=http://127.0.0.1:8081/veldra/ demo_build=$root/build/demo-windows
if [ $https = 1 ]; then
  base_url=https://localhost:8443/veldra/ mirror_url=https://localhost:8444/veldra/
  demo_build=$root/build/demo-windows-https
fi

export QM_WINDOWS_BUILD=${QM_WINDOWS_BUILD:-$demo_build}
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
  -DQM_RELEASE_PUBLIC_KEY="$QM_DEMO_KEY.pub" -DQM_SERVER_BASE_URL="$base_url" -DQM_MIRROR_BASE_URLS="$mirror_url" \
  >/dev/null
cmake --build "$QM_WINDOWS_BUILD" --target QMLoader demo-setup demo-driver qmtrust

exec bash "$root/scripts/demo.sh" "$@"
