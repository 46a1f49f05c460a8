#!/usr/bin/env bash
# Pictures of 100 to 300 KiB served by nginx, fetched three ways over the same
# address list: our download pool with 15 workers (bench_download, one thread
# per picture as in a real album), aria2c with 15 parallel downloads, and
# gallery-dl (one picture at a time, its only mode). Three runs:
#
#   loopback        1,000 pictures over http, nginx on this machine;
#   distance http   200 pictures over http through bench/distance_relay.py,
#                   which makes nginx look RTT_MS (80) away on a shared link
#                   of RATE_MBIT (160);
#   distance https  the same over https (a test certificate that every peer
#                   is told to trust: CURL_CA_BUNDLE for ours).
#
# Prints the wall time of each tool, the ratios to ours, the peak resident
# memory and, through the relay, the connections each tool opened.
#
#   bench/bench_download.sh [build-dir]
#   RUNS="http https" bench/bench_download.sh    # only the distance runs
#
# Our pool pauses 10 ms after each read of at most 102,399 bytes (the HTTP
# client's pacing), which costs a picture of 200 KiB about 20 ms.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/nginx.sh
root=$PWD
build=${1:-build}
runs=${RUNS:-loopback http https}
rtt_ms=${RTT_MS:-80}
rate_mbit=${RATE_MBIT:-160}
far_count=${FAR_PICTURES:-200}
driver="$build/bench/bench_download"
[ -x "$driver" ] || { echo "build $driver first (cmake --build --preset default)" >&2; exit 1; }
for tool in aria2c gallery-dl; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (apt-get install $tool)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/bench_download.XXXXXX)
chmod 755 "$work"
server_pid=
relay_pid=
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Real JPEG files (the fake service's generator) of random sizes, fixed seed.
mkdir -p "$work/www/pics"
python3 - "$root/tests/fake_service" "$work/www/pics" <<'PY'
import random, sys
sys.path.insert(0, sys.argv[1])
import fake_service
random.seed(20140530)
total = 0
for i in range(1000):
    size = random.randint(100 << 10, 300 << 10)
    total += size
    with open("%s/%04d.jpg" % (sys.argv[2], i), "wb") as f:
        f.write(fake_service.jpeg_bytes(size))
print("1000 pictures, %.1f MiB" % (total / (1 << 20)))
PY
chmod -R a+rX "$work/www"

start_nginx "$work" "$work/www" pics/0000.jpg tls
export TAMBLIN_COOKIE_FILE=
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY

# Writes the addresses of the first N pictures under BASE to FILE.
address_list() { # base count file
  local i
  for ((i = 0; i < $2; i++)); do printf '%s/pics/%04d.jpg\n' "$1" "$i"; done >"$3"
}

# Runs a command in a fresh output folder; prints "<seconds> <peak RSS KiB>
# <files> <bytes>".
measure() {
  local out=$1
  shift
  rm -rf "$out"
  mkdir -p "$out"
  python3 - "$out" "$@" <<'PY'
import os, resource, subprocess, sys, time
out = sys.argv[1]
start = time.monotonic()
rc = subprocess.call(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
elapsed = time.monotonic() - start
if rc != 0:
    sys.exit("failed (%d): %s" % (rc, " ".join(sys.argv[2:])))
files = [os.path.join(d, f) for d, _, names in os.walk(out) for f in names]
size = sum(os.path.getsize(f) for f in files)
print("%.3f %d %d %d" % (elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, len(files), size))
PY
}

# The relay in front of nginx's PORT; sets relay_port and relay_pid.
start_relay() {
  python3 "$root/bench/distance_relay.py" --upstream "127.0.0.1:$1" --rtt-ms "$rtt_ms" \
    --rate-mbit "$rate_mbit" >"$work/relay.out" &
  relay_pid=$!
  local _
  for _ in $(seq 50); do
    relay_port=$(sed -n 's/^PORT //p' "$work/relay.out")
    [ -n "$relay_port" ] && return 0
    sleep 0.1
  done
  echo "the relay did not start" >&2
  exit 1
}

# Ends the relay; sets conns to the connections it accepted.
stop_relay() {
  kill -TERM "$relay_pid"
  wait "$relay_pid" || true
  relay_pid=
  conns=$(sed -n 's/^connections //p' "$work/relay.out")
}

# One tool over one list: "<seconds> <peak RSS KiB> <connections or ->".
run_tool() { # name count loopback|http|https command... (@OUT@ stands for the output folder)
  local name=$1 count=$2 mode=$3
  shift 3
  local base conns=- list=$work/urls.txt out=$work/out.$name
  case $mode in
    loopback) base="http://127.0.0.1:$port" ;;
    http) start_relay "$port"; base="http://127.0.0.1:$relay_port" ;;
    https) start_relay "$tls_port"; base="https://127.0.0.1:$relay_port" ;;
  esac
  address_list "$base" "$count" "$list"
  local expected
  expected=$(find "$work/www/pics" -type f -name '*.jpg' | sort | head -n "$count" | xargs stat -c %s | awk '{s+=$1} END {print s}')
  local secs rss files bytes
  read -r secs rss files bytes < <(measure "$out" "${@//@OUT@/$out}")
  [ "$mode" = loopback ] || stop_relay
  [ "$files" -eq "$count" ] && [ "$bytes" -eq "$expected" ] \
    || { echo "$name fetched $files files, $bytes bytes (want $count, $expected)" >&2; exit 1; }
  echo "$secs $rss $conns"
}

report() { # title ours(sec rss conns) aria(...) gdl(...)
  python3 - "$@" <<'PY'
import sys
title = sys.argv[1]
(o, orss, oc), (a, arss, ac), (g, grss, gc) = [(float(x), float(y), z) for x, y, z in
                                               (sys.argv[i:i + 3] for i in (2, 5, 8))]
print(title)
print("  ours (pool, 15 workers)  %8.3f s  peak RSS %6.1f MiB  connections %s" % (o, orss / 1024, oc))
print("  aria2c -j15 -i           %8.3f s  peak RSS %6.1f MiB  connections %s  ratio to ours %.2f"
      % (a, arss / 1024, ac, a / o))
print("  gallery-dl -i            %8.3f s  peak RSS %6.1f MiB  connections %s  ratio to ours %.2f"
      % (g, grss / 1024, gc, g / o))
PY
}

echo "server: nginx on 127.0.0.1:$port (https $tls_port); aria2c $(aria2c --version | head -1 | cut -d' ' -f3);" \
  "gallery-dl $(gallery-dl --version)"
aria_opts=(-q -j15 -x1 --file-allocation=none --allow-overwrite=true --auto-file-renaming=false
  --summary-interval=0 --ca-certificate="$ca_file")
export CURL_CA_BUNDLE=$ca_file REQUESTS_CA_BUNDLE=$ca_file
for run in $runs; do
  case $run in
    loopback) count=1000; title="loopback, http, $count pictures" ;;
    http | https) count=$far_count; title="distance $rtt_ms ms, $rate_mbit Mbit/s, $run, $count pictures" ;;
    *) echo "unknown run $run (loopback, http, https)" >&2; exit 2 ;;
  esac
  ours=$(run_tool ours "$count" "$run" "$driver" -j 15 @OUT@ "$work/urls.txt")
  aria=$(run_tool aria "$count" "$run" aria2c "${aria_opts[@]}" -d @OUT@ -i "$work/urls.txt")
  gdl=$(run_tool gdl "$count" "$run" gallery-dl --config-ignore -q --no-part -D @OUT@ -i "$work/urls.txt")
  # shellcheck disable=SC2086
  report "$title" $ours $aria $gdl
done
