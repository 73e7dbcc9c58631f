#!/usr/bin/env bash
# Runs test_https_peers against real TLS peers on 127.0.0.1, then qmget over
# https through a proxy:
#   run_https_peers.sh TEST_EXE [ARGS...]    (QMGET, QMTRUST: the paths of
#                                             qmget.exe and qmtrust.exe)
# Makes a test certificate authority and server certificates with openssl
# (scripts/tls-certs.sh) and trusts the authority in the test Wine prefix
# only (qmtrust.exe). Starts nginx with one server per certificate (for
# localhost from the authority; for another name; expired; self-signed; from
# an authority nobody trusts), a plain server that relocates to https and an
# https one that relocates to http; a TLS server that writes in 1-50 byte
# pieces and ends its answers in the ways a server or the path may
# (tls_split_server.py); tinyproxy requiring Basic authorization. The
# files served are seeded random bytes (QM_TEST_SEED replays a seed).
set -uo pipefail
peers_name=run_https_peers

here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
wine_run=$root/scripts/wine-run.sh
test_exe=${1:?usage: run_https_peers.sh TEST_EXE [ARGS...]}
shift
source "$here/peers-lib.sh"
require_tinyproxy
[ -n "${QMTRUST:-}" ] || fail "QMTRUST must name qmtrust.exe"

seed=${QM_TEST_SEED:-$RANDOM$RANDOM}
echo "$peers_name: data seed $seed (QM_TEST_SEED replays it)"
chmod 755 "$work"
mkdir -m 755 "$work/www"
python3 -c '
import random, sys
r = random.Random(int(sys.argv[1]))
for name, size in (("large.bin", 64 << 20), ("small.bin", 1 << 20), ("split.bin", 96 << 10)):
    open(sys.argv[2] + "/" + name, "wb").write(r.randbytes(size))
' "$seed" "$work/www" || fail "cannot write the test files"
head -c 16384 "$work/www/split.bin" >"$work/www/trickle.bin" # what /trickle of the split server sends
chmod 644 "$work"/www/*

certs=$work/certs
bash "$root/scripts/tls-certs.sh" "$certs" >"$work/certs.log" 2>&1 || { cat "$work/certs.log" >&2; fail "cannot make the certificates"; }
"$wine_run" "$QMTRUST" "$(windows_path "$certs/ca.pem")" || fail "cannot trust the test authority in the Wine prefix"

declare -A port
for name in good wrong expired selfsigned untrusted plain; do port[$name]=$(free_port); done
tls_server() { # PORT CERT [EXTRA]
  echo "  server { listen 127.0.0.1:$1 ssl; ssl_certificate $certs/$2.pem; ssl_certificate_key $certs/server.key; ${3:-} }"
}
{
  nginx_conf_head "$work/www"
  tls_server "${port[good]}" localhost "location = /tohttp { return 302 http://localhost:${port[plain]}/small.bin; }
    location = /moved { return 302 /small.bin; }"
  tls_server "${port[wrong]}" otherhost
  tls_server "${port[expired]}" expired
  tls_server "${port[selfsigned]}" selfsigned
  tls_server "${port[untrusted]}" untrusted
  echo "  server { listen 127.0.0.1:${port[plain]}; location = /tohttps { return 302 https://localhost:${port[good]}/small.bin; } }"
  echo "}"
} >"$work/nginx.conf"
start_nginx "${port[good]}" "$work/nginx.conf" || fail "nginx did not start"

start_split() { TMPDIR=$work start_peer split "$1" python3 "$here/tls_split_server.py" "$1" "$certs/localhost.pem" "$certs/server.key" "$work/www/split.bin"; }
with_free_port split_port start_split || fail "the split-record TLS server did not start"
with_free_port proxy_port start_auth_proxy || fail "the authenticating proxy did not start"

export QM_TLS_GOOD=${port[good]} QM_TLS_WRONG=${port[wrong]} QM_TLS_EXPIRED=${port[expired]}
export QM_TLS_SELFSIGNED=${port[selfsigned]} QM_TLS_UNTRUSTED=${port[untrusted]} QM_TLS_PLAIN=${port[plain]}
export QM_TLS_SPLIT=$split_port QM_TLS_PROXY=127.0.0.1:$proxy_port QM_TLS_AUTH=$AUTH_USER:$AUTH_PASSWORD
export QM_TLS_WWW=$(windows_path "$work/www")

status=0
timeout 200 "$wine_run" "$test_exe" "$@" || { echo "$peers_name: $(basename "$test_exe") failed" >&2; status=1; }

if [ -n "${QMGET:-}" ]; then
  timeout 45 "$wine_run" "$QMGET" "https://localhost:${port[good]}/small.bin" "$(windows_path "$work/got.bin")" \
    --proxy "127.0.0.1:$proxy_port" --user "$AUTH_USER:$AUTH_PASSWORD"
  rc=$?
  if [ $rc -ne 0 ] || ! cmp "$work/got.bin" "$work/www/small.bin"; then
    echo "$peers_name: qmget over https through the proxy failed (exit status $rc)" >&2
    status=1
  fi
fi
[ $status -eq 0 ] && echo "$peers_name: all passed"
exit $status
