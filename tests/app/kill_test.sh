#!/usr/bin/env bash
# The kill test: the real QMLoader.exe killed (SIGKILL, no chance to clean
# up) in the middle of a download and in the middle of an unpack, then run
# again against a good server; every target must end byte-identical to its
# source.
#
#   kill_test.sh LOADER_EXE DRIVER_EXE QMPACK_EXE PORT
#
# LOADER_EXE is QMLoader.exe built for http://127.0.0.1:PORT/veldra/
# (src/app/CMakeLists.txt, QMLoaderKillTest). qmpack.exe packs a release set
# of four files, one of them large; kill_server.py serves it and stalls the
# first download of the large one half-way. demo-driver.exe presses the
# buttons. Three runs of the loader in one fresh folder:
#   1. Start; killed once the server has stalled in the large download.
#   2. Start; killed once the large file's target exists but is not yet
#      whole (it is being unpacked).
#   3. Start; killed once the plain file's download is in place, as its
#      copy to the target begins.
#   4. Start, "Transfer finished.", close keeping the files; then cmp.
# Uses the build tree's Wine prefix (or WINEPREFIX) and kills only the
# processes it started, by their ids; the server ends by itself as well.
# QM_KILL_KEEP=1 keeps the work folder (logs, set, screenshots).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
loader=${1:?usage: kill_test.sh LOADER_EXE DRIVER_EXE QMPACK_EXE PORT}
driver=${2:?} qmpack=${3:?} port=${4:?}
loader=$(realpath "$loader") driver=$(realpath "$driver") qmpack=$(realpath "$qmpack")
SERVER_LIFETIME=120
WAIT_SECONDS=30
BIG_MB=12

# The loader and the driver must share one display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a bash "$0" "$@"
fi
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$loader")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX=$dir/wineprefix
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

fail() {
  echo "kill_test: FAILED: $*" >&2
  [ -s "${work:-}/loader.log" ] && { echo "kill_test: the loader's output:" >&2; tail -20 "$work/loader.log" >&2; }
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-kill.XXXXXX") || fail "cannot make a work directory"
server_pid= loader_pid=
stop() { # PID: ends it and waits for it
  [ -n "$1" ] || return 0
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  stop "$loader_pid"
  stop "$server_pid"
  [ -n "${QM_KILL_KEEP:-}" ] && echo "kill_test: work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# ---- the release set --------------------------------------------------------
mkdir -p "$work/source" "$work/www" "$work/run" "$work/shots"
python3 - "$work/source" "$BIG_MB" <<'PY' || fail "cannot write the source files"
import random, sys
from pathlib import Path
out, rng = Path(sys.argv[1]), random.Random(4711)
alphabet = b"abcdefghijklmnop \r\n,.;:-=+*#"
letters = bytes.maketrans(bytes(range(256)), bytes(alphabet[i % len(alphabet)] for i in range(256)))
(out / "first.txt").write_bytes(rng.randbytes(200_000).translate(letters))
(out / "big.dat").write_bytes(rng.randbytes(int(sys.argv[2]) << 20).translate(letters))
(out / "plain.bin").write_bytes(rng.randbytes(8 << 20))
(out / "last.txt").write_bytes(rng.randbytes(100_000).translate(letters))
(out / "vcl30.dpl").write_bytes(rng.randbytes(50_000))
PY
cat >"$work/source/manifest.txt" <<'MANIFEST'
First text  | first.txt | first.tx_ | {prog}\first.txt | yes
Runtime     | vcl30.dpl | vcl30.dp_ | {sys}\vcl30.dpl  | yes
Large file  | big.dat   | big.da_   | {prog}\big.dat   | yes
Plain file  | plain.bin | plain.bi_ | {prog}\plain.bin | no
Last text   | last.txt  | last.tx_  | {prog}\last.txt  | yes
MANIFEST
targets=(first.txt big.dat plain.bin last.txt)
timeout 120 "$wine_run" "$qmpack" build "$(winpath "$work/source/manifest.txt")" "$(winpath "$work/www")" \
  >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; fail "qmpack could not pack the set"; }
big_size=$(stat -c %s "$work/source/big.dat")
# A target the list rules count as 0 bytes, in the prefix's system folder.
sysdir=$WINEPREFIX/drive_c/windows/system
mkdir -p "$sysdir" && rm -f "$sysdir/vcl30.dpl"

# Windows without a window manager (Xvfb) are not waited for by Wine.
wine reg add 'HKCU\Software\Wine\AppDefaults\QMLoader.exe\X11 Driver' /v Managed /d N /f \
  </dev/null >/dev/null 2>&1 || fail "cannot set up Wine for the loader's windows"

# ---- the server -------------------------------------------------------------
python3 -c "import socket; s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('127.0.0.1', $port))" 2>/dev/null \
  || fail "port $port on 127.0.0.1 is in use (the loader under test is built for it: QM_KILL_TEST_PORT)"
log=$work/server.log
: >"$log"
python3 "$here/kill_server.py" "$port" "$work/www" "$log" big.da_ "$SERVER_LIFETIME" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { cat "$work/server.err" >&2; fail "the server did not start"; }

# ---- the runs ---------------------------------------------------------------
start_loader() {
  (cd "$work/run" && exec "$wine_run" "$loader" </dev/null >>"$work/loader.log" 2>&1) &
  loader_pid=$!
}
drive() { # PHASE
  timeout 90 "$wine_run" "$driver" "$1" "$(winpath "$work/shots")" </dev/null >>"$work/driver.log" 2>&1 \
    || { cat "$work/driver.log" >&2; fail "demo-driver $1 did not get through (log above)"; }
}
# wait_until WHAT COMMAND...: polls COMMAND every 10 ms until it succeeds.
wait_until() {
  local what=$1 deadline=$((SECONDS + WAIT_SECONDS))
  shift
  until "$@"; do
    kill -0 "$loader_pid" 2>/dev/null || fail "the loader ended before $what"
    [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what; server log: $(tr '\n' ';' <"$log")"
    sleep 0.01
  done
}
kill_loader() {
  kill -KILL "$loader_pid" || fail "the loader was not running when it was to be killed"
  wait "$loader_pid" 2>/dev/null
  loader_pid=
}
size_of() { stat -c %s "$1" 2>/dev/null || echo -1; }
target=$work/run/veldratp

echo "kill_test: run 1, killed in the middle of the download of big.dat"
start_loader
drive start
wait_until "the stalled download of big.dat" grep -q '^stalled big.da_' "$log"
# Half-written files carry the temporary ending, never their final names.
received() { [ "$(size_of "$target/unfinished.qm-part/big.da_.qm-part")" -gt 0 ]; }
wait_until "the first bytes of big.da_ on disk" received
partial=$(size_of "$target/unfinished.qm-part/big.da_.qm-part")
kill_loader
[ "$partial" -gt 0 ] && [ -e "$target/first.txt" ] && [ ! -e "$target/big.dat" ] && [ ! -e "$target/big.da_" ] \
  || fail "run 1 was not killed in the middle of the download (big.da_ held $partial bytes)"
echo "kill_test:   killed with first.txt in place and $partial bytes of big.da_ received"

echo "kill_test: run 2, killed in the middle of the unpacking of big.dat"
unpacking() { local n; n=$(size_of "$target/unfinished.qm-part/big.dat.qm-part"); [ "$n" -gt 0 ] && [ "$n" -lt "$big_size" ]; }
start_loader
drive start
wait_until "the unpacking of big.dat" unpacking
kill_loader
unpacked=$(size_of "$target/unfinished.qm-part/big.dat.qm-part")
[ "$unpacked" -lt "$big_size" ] && [ ! -e "$target/big.dat" ] \
  || fail "run 2 was not killed in the middle of the unpacking (big.dat is whole: $unpacked bytes)"
echo "kill_test:   killed with $unpacked of $big_size bytes of big.dat unpacked"

echo "kill_test: run 3, killed as the plain file's download is renamed and its copy begins"
start_loader
drive start
wait_until "the download of plain.bi_ in place" test -e "$target/plain.bi_"
kill_loader
copied=$(size_of "$target/unfinished.qm-part/plain.bin.qm-part")
# The copy goes to a temporary: the final name is absent or whole, never cut.
[ ! -e "$target/plain.bin" ] || cmp -s "$work/source/plain.bin" "$target/plain.bin" \
  || fail "run 3 left a partial plain.bin under its final name"
echo "kill_test:   killed with plain.bin $([ -e "$target/plain.bin" ] && echo whole || echo "absent ($copied bytes in its temporary)")"

echo "kill_test: run 4, against the good server to the end"
start_loader
drive resume
wait "$loader_pid"
loader_pid=
status=0
for name in "${targets[@]}"; do
  cmp "$work/source/$name" "$target/$name" || { echo "kill_test: target $name differs from its source" >&2; status=1; }
done
cmp "$work/source/vcl30.dpl" "$sysdir/vcl30.dpl" || { echo "kill_test: {sys}\\vcl30.dpl differs from its source" >&2; status=1; }
# Placed in run 1 and judged complete (as 0 bytes) in runs 2 and 3.
[ "$(grep -c '^GET vcl30.dp_' "$log")" = 1 ] || { echo "kill_test: vcl30.dp_ was fetched again" >&2; status=1; }
# A run that ends with every file in place leaves no folder of temporaries.
[ ! -e "$target/unfinished.qm-part" ] || { echo "kill_test: the folder of temporaries is left behind" >&2; status=1; }
[ $status = 0 ] || fail "not every target is identical to its source; server log: $(tr '\n' ';' <"$log")"
echo "kill_test: all ${#targets[@]} targets identical to their sources"
