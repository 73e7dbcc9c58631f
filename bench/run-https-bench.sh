#!/usr/bin/env bash
# The HTTPS benchmark: one nginx on loopback serving the same file over https
# and over http, with a test authority (scripts/tls-certs.sh) trusted in the
# build tree's Wine prefix only; then bench_http --https prints Get and
# WinINet, each over http and over https, alternating in every round, with
# the medians and the ratios.
#
#   bash bench/run-https-bench.sh [megabytes [runs]]   defaults: 256 MB, 5 runs
#
# BUILD names the windows build folder (default build/windows), which must
# hold bench/bench_http.exe and tools/qmtrust.exe.
set -uo pipefail
peers_name=run-https-bench
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/windows}
megabytes=${1:-256}
runs=${2:-5}
PEER_LIFETIME=3600
source "$root/tests/http/peers-lib.sh"
wine_run=$root/scripts/wine-run.sh

chmod 755 "$work"
mkdir -m 755 "$work/www"
head -c "$((megabytes << 20))" /dev/urandom >"$work/www/bench.bin" && chmod 644 "$work/www/bench.bin" ||
  fail "cannot write the file"
bash "$root/scripts/tls-certs.sh" "$work/certs" >"$work/certs.log" 2>&1 || fail "cannot make the certificates"
"$wine_run" "$build/tools/qmtrust.exe" "$(windows_path "$work/certs/ca.pem")" || fail "cannot trust the authority"

https_port=$(free_port) http_port=$(free_port)
{
  nginx_conf_head "$work/www"
  echo "  server { listen 127.0.0.1:$https_port ssl; ssl_certificate $work/certs/localhost.pem;"
  echo "           ssl_certificate_key $work/certs/server.key; }"
  echo "  server { listen 127.0.0.1:$http_port; }"
  echo "}"
} >"$work/nginx.conf"
start_nginx "$https_port" "$work/nginx.conf" || fail "nginx did not start"
"$wine_run" "$build/bench/bench_http.exe" --https "https://localhost:$https_port/bench.bin" \
  "http://localhost:$http_port/bench.bin" "$runs"
