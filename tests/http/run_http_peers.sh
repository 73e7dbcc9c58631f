#!/usr/bin/env bash
# Runs test_http_peers against real peers on 127.0.0.1, then qmget:
#   run_http_peers.sh TEST_EXE [ARGS...]     (QMGET: the path of qmget.exe;
#                                             unset, the qmget runs are left out)
# Starts, each on a free port: Python's http.server over a directory holding
# an 8 MB file of seeded random bytes (QM_TEST_SEED replays a seed), one
# tinyproxy open to loopback, one requiring Basic authorization, and a server
# whose body falls short of its Content-Length. Waits until each accepts,
# runs the Windows programs under Wine with the addresses in the environment,
# and stops the peers whatever happens. Every peer also ends by itself after
# PEER_LIFETIME seconds, so even a killed run leaves nothing behind.
set -uo pipefail
peers_name=run_http_peers

here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
test_exe=${1:?usage: run_http_peers.sh TEST_EXE [ARGS...]}
shift
qmget=${QMGET:-}
source "$here/peers-lib.sh"
require_tinyproxy

start_http() { start_peer http "$1" python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$1"; }

# A server that promises more than it sends: Content-Length 100000, 1000
# bytes, close.
start_short() {
  start_peer short "$1" python3 -c '
import socket, sys
s = socket.create_server(("127.0.0.1", int(sys.argv[1])))
while True:
    c, _ = s.accept()
    c.recv(65536)
    c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"x" * 1000)
    c.close()
' "$1"
}

start_proxy() {
  proxy_config "$work/proxy.conf" "$1"
  start_peer proxy "$1" tinyproxy -d -c "$work/proxy.conf"
}

seed=${QM_TEST_SEED:-$RANDOM$RANDOM}
echo "run_http_peers: data seed $seed (QM_TEST_SEED replays it)"
mkdir -p "$work/www"
python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(int(sys.argv[1])).randbytes(8 << 20))' \
  "$seed" >"$work/www/data.bin" || fail "cannot write the test file"

with_free_port http_port start_http || fail "the HTTP server did not start"
with_free_port proxy_port start_proxy || fail "the open proxy did not start"
with_free_port auth_proxy_port start_auth_proxy || fail "the authenticating proxy did not start"
with_free_port short_port start_short || fail "the short-body server did not start"

export QM_PEER_URL=http://127.0.0.1:$http_port/data.bin
export QM_PEER_DATA=$(windows_path "$work/www/data.bin")
export QM_PEER_PROXY=127.0.0.1:$proxy_port
export QM_PEER_AUTH_PROXY=127.0.0.1:$auth_proxy_port
export QM_PEER_AUTH=$AUTH_USER:$AUTH_PASSWORD

status=0
timeout 150 "$wine_run" "$test_exe" "$@" || { echo "run_http_peers: $(basename "$test_exe") failed" >&2; status=1; }

if [ -z "$qmget" ]; then
  [ $status -eq 0 ] && echo "run_http_peers: all passed"
  exit $status
fi
# qmget: a whole download through the authenticating proxy; then a missing
# file and a body shorter than its Content-Length, each of which must end
# with exit status 1.
timeout 45 "$wine_run" "$qmget" "$QM_PEER_URL" "$(windows_path "$work/got.bin")" \
  --proxy "$QM_PEER_AUTH_PROXY" --user "$QM_PEER_AUTH" >"$work/qmget.out"
rc=$?
cat "$work/qmget.out"
if [ $rc -ne 0 ] || ! cmp "$work/got.bin" "$work/www/data.bin"; then
  echo "run_http_peers: qmget through the proxy failed (exit status $rc)" >&2
  status=1
fi
timeout 45 "$wine_run" "$qmget" "http://127.0.0.1:$http_port/missing.bin" "$(windows_path "$work/missing.bin")" \
  >"$work/qmget404.out" 2>&1
rc=$?
if [ $rc -ne 1 ] || ! grep -q '^404 ' "$work/qmget404.out"; then
  echo "run_http_peers: qmget of a missing file gave exit status $rc, expected 1 and a 404:" >&2
  cat "$work/qmget404.out" >&2
  status=1
fi

timeout 45 "$wine_run" "$qmget" "http://127.0.0.1:$short_port/short.bin" "$(windows_path "$work/short.bin")" \
  >"$work/qmget-short.out" 2>&1
rc=$?
if [ $rc -ne 1 ]; then
  echo "run_http_peers: qmget of a body shorter than its Content-Length gave exit status $rc, expected 1:" >&2
  cat "$work/qmget-short.out" >&2
  status=1
fi

# Two sources of one file: the first lacks it, the second serves it, at once.
out=$work/qmget-two.out
timeout 45 "$wine_run" "$qmget" "http://127.0.0.1:$http_port/missing.bin" "$QM_PEER_URL" \
  "$(windows_path "$work/got2.bin")" >"$out" 2>&1 && cmp -s "$work/got2.bin" "$work/www/data.bin" &&
  ! grep -q retrying "$out" && grep -q "missing.bin: the server's status; next: " "$out" ||
  { echo "run_http_peers: qmget from a second source failed:" >&2; cat "$out" >&2; status=1; }

[ $status -eq 0 ] && echo "run_http_peers: all passed"
exit $status
