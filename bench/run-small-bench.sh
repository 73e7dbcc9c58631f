#!/usr/bin/env bash
# The many-small-files benchmark: release sets of many small files packed by
# qmpack (half of them compressed), served by nginx on loopback in a
# process of its own, fetched by the run through the program's window
# (bench_run --served) and by WinINet in one process of its own
# (bench_wininet), the two alternating in every round (which goes first
# alternates too). Prints every round, then per set the medians of both,
# their ratio, the run's phases per file (the median over the rounds) and
# its memory, and how the cost grows from the 400-file set to the 2,000-file
# one.
#
#   bash bench/run-small-bench.sh [rounds]        default: 3 rounds
#
# The sets: s400 (400 files of 5 KB), s100 (100 of 20 KB), s2000 (2,000 of
# 5 KB). The server is named "localhost", so the run looks its name up.
# BUILD names the windows build folder (default build/windows), which must
# hold bench/bench_run.exe, bench/bench_wininet.exe and
# tools/qmpack/qmpack.exe; FOLDER (default Z:\dev\shm, a folder in memory)
# where both write; SETS (default "s400 s100 s2000") which sets are run;
# RUNS (default the build's bench_run.exe) one or more bench_run programs
# to compare, each run in every round beside WinINet. A display is needed
# (DISPLAY, or xvfb-run).
set -uo pipefail
peers_name=run-small-bench
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/windows}
rounds=${1:-3}
folder=${FOLDER:-'Z:\dev\shm'}
sets=${SETS:-s400 s100 s2000}
runs=(${RUNS:-$build/bench/bench_run.exe})
PEER_LIFETIME=7200
source "$root/tests/http/peers-lib.sh"
wine_run=$root/scripts/wine-run.sh
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}

# make_set NAME FILES BYTES: sources and manifest, packed into www/NAME.
make_set() {
  local name=$1
  mkdir -p "$work/src/$name" "$work/www/$name"
  python3 - "$work/src/$name" "$2" "$3" <<'PY' || fail "cannot make the set $name"
import os, random, sys
folder, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9))) for _ in range(500)]
with open(os.path.join(folder, 'manifest.txt'), 'w') as manifest:
    for i in range(files):
        text = ' '.join(random.choice(words) for _ in range(size // 4))[:size].encode()
        with open(os.path.join(folder, 'f%04d.txt' % i), 'wb') as f:
            f.write(text)
        packed = i % 2 == 0
        remote = 'f%04d.%s' % (i, 'tx_' if packed else 'txt')
        manifest.write('File %d | f%04d.txt | %s | {prog}\\t%04d.txt | %s\n' % (i, i, remote, i, 'yes' if packed else 'no'))
PY
  "$wine_run" "$build/tools/qmpack/qmpack.exe" build "$(windows_path "$work/src/$name/manifest.txt")" \
    "$(windows_path "$work/www/$name")" >"$work/pack-$name.log" 2>&1 || { cat "$work/pack-$name.log"; fail "qmpack failed"; }
}

chmod 755 "$work"
declare -A shapes=([s400]="400 5120" [s100]="100 20480" [s2000]="2000 5120")
for set in $sets; do
  [ -n "${shapes[$set]:-}" ] || fail "no set $set"
  make_set "$set" ${shapes[$set]}
done
chmod -R a+rX "$work/www"
port=$(free_port)
{
  nginx_conf_head "$work/www"
  echo "  server { listen 127.0.0.1:$port; }"
  echo "}"
} >"$work/nginx.conf"
start_nginx "$port" "$work/nginx.conf" || fail "nginx did not start"

urls=()
for set in $sets; do urls+=("http://localhost:$port/$set/"); done
out=$work/results.txt
for round in $(seq "$rounds"); do
  echo "round $round:"
  ways=$((${#runs[@]} + 1))
  for turn in $(seq 0 $((ways - 1))); do
    way=$(((round + turn) % ways))
    if [ "$way" -lt "${#runs[@]}" ]; then
      label=$(basename "${runs[$way]}" .exe)
      "$wine_run" "${runs[$way]}" --served "$folder" "${urls[@]}" | sed "s/^run /run:$label /" | tee -a "$out"
      [ "${PIPESTATUS[0]}" -eq 0 ] || fail "the run failed"
    else
      "$wine_run" "$build/bench/bench_wininet.exe" "$folder" "${urls[@]}" | tee -a "$out" || fail "WinINet failed"
    fi
  done
done

python3 - "$out" <<'PY'
import statistics, sys
runs, wininet = {}, {}
for line in open(sys.argv[1]):
    f = line.split()
    if not f:
        continue
    name = f[1].rstrip('/').rsplit('/', 1)[1]
    if f[0].startswith('run:'):
        runs.setdefault((f[0][4:], name), []).append(f)
    elif f[0] == 'wininet':
        wininet.setdefault(name, []).append(f)
med = statistics.median
def run_seconds(key): return med(float(f[3]) for f in runs[key])
print('medians of %d rounds:' % len(next(iter(runs.values()))))
for key in runs:
    label, name = key
    r, w = runs[key], wininet[name]
    rs, ws = [float(f[3]) for f in r], [float(f[3]) for f in w]
    print('%s %s: %s files; run %.2f s (cpu %.2f), WinINet %.2f s (cpu %.2f): run/WinINet %.2f (median of the rounds\' ratios %.2f);'
          ' run %.1f ms per file, WinINet %.1f' % (
        label, name, r[0][2], med(rs), med(float(f[4]) for f in r), med(ws), med(float(f[4]) for f in w), med(rs) / med(ws),
        med(a / b for a, b in zip(rs, ws)), med(rs) * 1000 / int(r[0][2]), med(ws) * 1000 / int(w[0][2])))
    print('  memory: at most %.1f MB of private bytes; %d messages, %d paints per run' % (
        max(float(f[5]) for f in r), med(int(f[6]) for f in r), med(int(f[7]) for f in r)))
    phases = [kv.split('=')[0] for kv in r[0][8:]]
    values = {p: med(float(f[8 + i].split('=')[1]) for f in r) for i, p in enumerate(phases)}
    print('  ms per file: ' + ', '.join('%s %.2f' % (p, values[p]) for p in phases) + '; sum %.2f' % sum(values.values()))
for label in sorted({k[0] for k in runs}):
    if (label, 's400') in runs and (label, 's2000') in runs:
        print('%s: 2,000 files cost %.2f times what 400 cost' % (
            label, run_seconds((label, 's2000')) / run_seconds((label, 's400'))))
PY
