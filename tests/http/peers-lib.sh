# Helpers of the wrappers that run Windows test programs against real peers
# on loopback (run_http_peers.sh, run_https_peers.sh). Sourced; the caller
# sets peers_name (for messages) first, and may set PEER_LIFETIME (seconds
# after which every peer ends by itself) and WAIT_SECONDS (for a peer to
# accept). Makes $work (removed at exit) and stops every peer started with
# start_peer when the shell exits, whatever happens.

PEER_LIFETIME=${PEER_LIFETIME:-270}
WAIT_SECONDS=${WAIT_SECONDS:-15}
# The authenticating proxy's credentials.
AUTH_USER=qmuser
AUTH_PASSWORD=s3cret-Pw

fail() { echo "$peers_name: $*" >&2; exit 1; }
require_tinyproxy() {
  command -v tinyproxy >/dev/null || fail "tinyproxy is not installed (scripts/install-deps.sh installs it)"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-http-peers.XXXXXX") || fail "cannot make a work directory"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# start_peer NAME PORT COMMAND...: starts COMMAND (its output in NAME.log)
# and waits until PORT accepts; false when it exits or the wait runs out.
start_peer() {
  local name=$1 port=$2
  shift 2
  timeout "$PEER_LIFETIME" "$@" >"$work/$name.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  local deadline=$((SECONDS + WAIT_SECONDS))
  while ! accepts "$port"; do
    if ! kill -0 "$pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
      echo "$peers_name: $name did not accept on 127.0.0.1:$port; its log:" >&2
      cat "$work/$name.log" >&2
      return 1
    fi
    sleep 0.1
  done
}

# with_free_port VAR STARTER: runs STARTER PORT on a free port and sets VAR
# to it. A port taken by someone else in between makes the peer fail; then
# another port is tried.
with_free_port() {
  local var=$1 starter=$2 try port
  for try in 1 2 3; do
    port=$(free_port) || return 1
    if "$starter" "$port"; then
      printf -v "$var" %s "$port"
      return 0
    fi
  done
  return 1
}

proxy_config() { # FILE PORT [EXTRA LINE]
  cat >"$1" <<CONF
Port $2
Listen 127.0.0.1
Allow 127.0.0.1
Timeout 60
MaxClients 16
LogLevel Notice
${3:-}
CONF
}
# A tinyproxy that requires Basic authorization with AUTH_USER and
# AUTH_PASSWORD (a missing one gets 407, a wrong one 401).
start_auth_proxy() {
  proxy_config "$work/auth_proxy.conf" "$1" "BasicAuth $AUTH_USER $AUTH_PASSWORD"
  start_peer auth_proxy "$1" tinyproxy -d -c "$work/auth_proxy.conf"
}
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# start_nginx PORT CONF: runs nginx in the foreground with CONF (its files
# under $work/nginx) and waits until PORT, one of its ports, accepts. Its
# workers may run as another user: what they serve must be world-readable.
start_nginx() {
  command -v nginx >/dev/null || fail "nginx is not installed (scripts/install-deps.sh installs it)"
  mkdir -p "$work/nginx/tmp"
  start_peer nginx "$1" nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$2" -g 'daemon off;'
}

# The first lines of an nginx configuration: one worker, every file in
# $work/nginx, the document root ROOT. The caller adds its servers and "}".
nginx_conf_head() { # ROOT
  local n=$work/nginx
  cat <<CONF
worker_processes 1;
pid $n/nginx.pid;
error_log $n/error.log;
events { worker_connections 64; }
http {
  access_log $n/access.log;
  client_body_temp_path $n/tmp; proxy_temp_path $n/tmp; fastcgi_temp_path $n/tmp;
  uwsgi_temp_path $n/tmp; scgi_temp_path $n/tmp;
  default_type application/octet-stream;
  ssl_protocols TLSv1.2 TLSv1.3;
  root $1;
CONF
}
