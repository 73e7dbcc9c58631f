#!/usr/bin/env bash
# The demo behind scripts/run.sh (which builds first). Everything lives in
# build/demo: the source files and the packed set, the web folder, the demo
# folder QMLoader.exe runs in, drive A:'s folder, the Wine prefix and the
# screenshots. Two HTTP/1.0 servers (scripts/demo/server.py: python3's
# http.server, for https base URLs behind TLS with a demo certificate
# authority trusted in the demo's Wine prefix only) serve the web folder: the
# program's server, which answers one file 404 always, and its mirror, which
# answers that file's first request 503; so the loader takes the file to the
# mirror, waits a round and takes it from the mirror. They and, without a
# display, Xvfb are stopped when the demo ends, whatever the outcome.
#
#   bash scripts/demo.sh [--auto] [--https]   (--https: the program must be
#                                              built for https://localhost:PORT/...)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=${QM_WINDOWS_BUILD:-$root/build/demo-windows}
qmpack=${QM_NATIVE_BUILD:-$root/build/native-release}/tools/qmpack/qmpack
demo=$root/build/demo
auto=0
for arg in "$@"; do [ "$arg" = --auto ] && auto=1; done

# ---- the server address the program was built with ---------------------
url=$(sed -n 's/^QM_SERVER_BASE_URL:STRING=//p' "$win/CMakeCache.txt")
if [[ $url =~ ^https://localhost:([0-9]+)(/.*/)$ ]]; then
  tls=1
elif [[ $url =~ ^http://127\.0\.0\.1:([0-9]+)(/.*/)$ ]]; then
  tls=0
else
  echo "demo: the program was built for $url; the demo serves only a loopback base URL" >&2
  echo "      such as http://127.0.0.1:8080/veldra/ or https://localhost:8443/veldra/" >&2
  echo "      (cmake -DQM_SERVER_BASE_URL=...)" >&2
  exit 1
fi
port=${BASH_REMATCH[1]} path=${BASH_REMATCH[2]}
mirror=$(sed -n 's/^QM_MIRROR_BASE_URLS:STRING=//p' "$win/CMakeCache.txt")
if ! [[ $mirror =~ ^https?://(127\.0\.0\.1|localhost):([0-9]+)$path$ ]] || [ "${mirror%%:*}" != "${url%%:*}" ]; then
  echo "demo: the program was built with the mirror \"$mirror\"; the demo serves one loopback mirror" >&2
  echo "      of the same scheme and path, such as ${url%:*}:8081$path (cmake -DQM_MIRROR_BASE_URLS=...)" >&2
  exit 1
fi
mirror_port=${BASH_REMATCH[2]}

# ---- the release set ----------------------------------------------------
echo "== packing the demo release set with qmpack"
rm -rf "$demo/source" "$demo/www" "$demo/tls" "$demo/run" "$demo/floppy" "$demo/shots"
mkdir -p "$demo/source" "$demo/www$path" "$demo/run" "$demo/floppy" "$demo/shots"
cp "$root/scripts/demo/manifest.txt" "$root/scripts/demo/SETUP.INI" "$root/scripts/demo/SETUP.PKG" \
   "$root/scripts/demo/Disk2.txt" "$demo/source/"
cp "$win/tools/demo/demo-setup.exe" "$demo/source/setup.exe"
python3 "$root/scripts/demo/make-files.py" "$demo/source"
# Signed with the demo's release key, whose public half the program was built
# with (scripts/run.sh makes the pair once, in build/demo-key).
key=${QM_DEMO_KEY:-$root/build/demo-key/demo}
built_key=$(sed -n 's/^QM_RELEASE_PUBLIC_KEY:FILEPATH=//p' "$win/CMakeCache.txt")
if [ "$built_key" != "$key.pub" ]; then
  echo "demo: the program was built with the release key \"$built_key\", not the demo's $key.pub" >&2
  echo "      (bash scripts/run.sh builds it with the demo key)" >&2
  exit 1
fi
"$qmpack" build "$demo/source/manifest.txt" "$demo/www$path" --sign "$key.priv"
"$qmpack" verify --key "$key.pub" "$demo/www$path"

# ---- display, Wine prefix, drive A: ----------------------------------------
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
xvfb_pid= server_pid= mirror_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  auto=1
  echo "== no display: the demo runs on a virtual display (Xvfb), driven automatically"
  for n in $(seq 121 160); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$! DISPLAY=:$n
    export DISPLAY
    break
  done
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
if [ ! -d "$WINEPREFIX" ]; then
  echo "== creating the demo's Wine prefix (once, about a minute)"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Without a window manager (Xvfb) Wine would wait for every closed window, so
# the windows go unmanaged there; on a real display the manager handles them.
for exe in QMLoader.exe setup.exe; do
  key="HKCU\\Software\\Wine\\AppDefaults\\$exe\\X11 Driver"
  if [ -n "$xvfb_pid" ]; then wine reg add "$key" /v Managed /d N /f >/dev/null 2>&1
  else wine reg delete "$key" /v Managed /f >/dev/null 2>&1 || true; fi
done
sysdir=$WINEPREFIX/drive_c/windows/system
mkdir -p "$sysdir"
rm -f "$sysdir/qmvldr.dll" "$WINEPREFIX/dosdevices/a:"
ln -s "$demo/floppy" "$WINEPREFIX/dosdevices/a:"

# ---- the servers ----------------------------------------------------------
for p in $port $mirror_port; do
  if ! python3 -c "import socket; s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('127.0.0.1', $p))" 2>/dev/null; then
    echo "demo: port $p on 127.0.0.1 is in use; stop what listens there and run again" >&2
    exit 1
  fi
done
winpath() { echo "Z:${1//\//\\}"; }
# The file the server lacks: the mirror is busy for it once, then gives it.
busy=$(awk -F'\t' '$1 == "Word list" {print $4}' "$demo/www$path/list.txt")
tls_args=()
if [ $tls = 1 ]; then
  # A demo authority made afresh, trusted in the demo's prefix (never the
  # host's store); the servers' certificate is for localhost.
  bash "$root/scripts/tls-certs.sh" "$demo/tls" "QMLoader Demo Authority" >"$demo/tls.log" 2>&1
  wine "$win/tools/qmtrust.exe" "$(winpath "$demo/tls/ca.pem")"
  tls_args=(--tls "$demo/tls/localhost.pem" "$demo/tls/server.key")
fi
python3 "$root/scripts/demo/server.py" "$port" "$demo/www" "${tls_args[@]}" --missing "$busy" >"$demo/server.log" 2>&1 &
server_pid=$!
python3 "$root/scripts/demo/server.py" "$mirror_port" "$demo/www" "${tls_args[@]}" --busy-once "$busy" \
  >"$demo/mirror.log" 2>&1 &
mirror_pid=$!
for p in $port $mirror_port; do
  for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && break; sleep 0.1; done
done
echo "== serving $url and its mirror $mirror from build/demo/www (HTTP/1.0$([ $tls = 1 ] && echo ' over TLS'), logs build/demo/server.log, mirror.log)"

requests() { grep -c '"GET ' "${1:-$demo/server.log}" || true; }
run_loader() { # phase: drives it with demo-driver in --auto mode
  cd "$demo/run"
  if [ $auto = 1 ]; then
    timeout 300 wine "$win/src/app/QMLoader.exe" >/dev/null 2>&1 &
    local loader=$!
    local status=0
    wine "$win/tools/demo/demo-driver.exe" "$1" "$(winpath "$demo/shots")" || status=$?
    wait $loader || true
    return $status
  fi
  wine "$win/src/app/QMLoader.exe" >/dev/null 2>&1 || true
}

# ---- the checks -------------------------------------------------------------
# Each manifest line: target in place and equal to its source, and (after
# Make Disks) the copy on A: equal too.
targets_ok=0 disks_ok=0 total=0 problems=()
trim() { local s=${1#"${1%%[! ]*}"}; printf '%s' "${s%"${s##*[! ]}"}"; }
check_targets() {
  targets_ok=0 disks_ok=0 total=0
  while IFS='|' read -r name src remote target compress; do
    src=$(trim "$src") target=$(trim "$target")
    file=${target##*\\}
    case "$target" in
      "{prog}\\"*) placed=$demo/run/veldratp/$file ;;
      "{sys}\\"*) placed=$sysdir/$file ;;
      *) problems+=("unexpected target $target"); continue ;;
    esac
    total=$((total + 1))
    if cmp -s "$demo/source/$src" "$placed"; then targets_ok=$((targets_ok + 1))
    else problems+=("target $target is missing or differs from $src"); fi
    if cmp -s "$demo/source/$src" "$demo/floppy/$file"; then disks_ok=$((disks_ok + 1)); fi
  done < <(grep -v '^\s*#' "$demo/source/manifest.txt" | grep '|')
}

echo "== QMLoader.exe in build/demo/run"
[ $auto = 1 ] || echo "   (drive it yourself: Start, Install QM, Make Disks onto A: = build/demo/floppy, Close)"
status=0
run_loader first || status=$?
first_requests=$(requests) first_mirror=$(requests "$demo/mirror.log")
check_targets
first_targets=$targets_ok first_disks=$disks_ok
second=
if [ $auto = 1 ] && [ $status = 0 ]; then
  echo "== the same folder again: Start resumes, Close deletes the downloads"
  run_loader second || status=$?
  [ -d "$demo/run/veldratp" ] && [ -n "$(ls -A "$demo/run/veldratp")" ] && problems+=("the downloads were not deleted")
  [ -f "$sysdir/qmvldr.dll" ] || problems+=("the {sys} target was removed at close")
  second="second run: $(( $(requests) - first_requests )) requests (list.txt, list.txt.sig and the two setup files again); downloads deleted at close, {sys} target kept"
fi
tampered=
if [ $auto = 1 ] && [ $status = 0 ]; then
  # One byte of the first {prog} file changed on the server and its mirror
  # (one web folder), in a folder with nothing in place: the loader must
  # refuse it from both and unpack nothing of it.
  IFS=$'\t' read -r _ _ _ victim victim_target _ < <(grep -m1 $'\t{prog}' "$demo/www$path/list.txt")
  echo "== $victim altered on the server: the loader must refuse it"
  served=$demo/www$path/$victim
  cp "$served" "$demo/victim.orig"
  python3 -c "import sys; p=sys.argv[1]; b=bytearray(open(p,'rb').read()); b[len(b)//2]^=1; open(p,'wb').write(b)" "$served"
  rm -rf "$demo/run/veldratp" "$sysdir/qmvldr.dll"
  run_loader tampered || status=$?
  mv "$demo/victim.orig" "$served"
  placed=$demo/run/veldratp/${victim_target##*\\}
  [ -e "$placed" ] && problems+=("the altered $victim was unpacked to $placed")
  [ -e "$demo/run/veldratp/$victim" ] && problems+=("the altered download $victim was kept")
  tampered="tampered:      $victim with one byte changed on the server was refused (\"Failed : 200 The file was damaged or altered ...\"), nothing of it unpacked"
fi

for bmp in "$demo"/shots/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" -trim +repage -strip "${bmp%.bmp}.png" && rm -f "$bmp"
done

echo
echo "== demo report"
echo "release set:   $total files, packed and verified by qmpack (build/demo/www$path)"
echo "targets:       $first_targets of $total in place and identical to their sources"
echo "drive A::      $first_disks of $total copied by Make Disks and identical (build/demo/floppy)"
echo "first run:     $first_requests requests to $url, $first_mirror to its mirror $mirror"
[ -n "$second" ] && echo "$second"
[ -n "$tampered" ] && echo "$tampered"
log=$demo/run/QMLoader.log
if [ -f "$log" ]; then
  echo "mirror:        $busy answered 404 by the server, 503 once by the mirror; the loader's log"
  echo "               (build/demo/run/QMLoader.log) of its first run:"
  first_log=$(awk '/ run: QMLoader/ {n++} n == 1' "$log")
  grep -F -e "${busy%_}" -e "retry:" -e "source:" -e "mirror:" <<<"$first_log" | sed 's/^/                 /'
  grep -q "retry: the server's status" <<<"$first_log" || problems+=("the log shows no retry of $busy")
  grep -q "(server) failed (the server's status); next: .* (mirror)" <<<"$first_log" ||
    problems+=("the log shows no change to the mirror for $busy")
  grep -q "GET ${mirror}${busy}: status 200" <<<"$first_log" || problems+=("$busy did not come from the mirror")
else
  problems+=("no QMLoader.log in build/demo/run")
fi
echo "signature:     list.txt.sig checked by the program against the demo key it was built with"
echo "screenshots:   $(ls "$demo"/shots/*.png 2>/dev/null | wc -l) in build/demo/shots"
for p in "${problems[@]}"; do echo "PROBLEM: $p"; done
if [ $auto = 1 ]; then
  [ $status = 0 ] && [ ${#problems[@]} = 0 ] && [ "$first_targets" = "$total" ] && [ "$first_disks" = "$total" ] \
    && { echo "demo: every step done, every target verified"; exit 0; }
  echo "demo: FAILED" >&2
  exit 1
fi
