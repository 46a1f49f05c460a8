#!/usr/bin/env bash
# Throughput of the HTTP client against curl, on a loopback server:
# one file of 50 MiB and 1,000 files of 100 KiB, fetched into files.
#
#   bench/bench_http.sh [build-dir] [threads for the many-files run]
#
# The server is nginx, so that the server is not what is measured. Each run
# prints seconds, MiB/s, the ratio to curl and the peak resident memory of the
# fetching process. The
# client pauses 10 ms after each read of at most 102,399 bytes, which caps one
# exchange near 10 MB/s; the last two runs show the client without it.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/nginx.sh
build=${1:-build}
threads=${2:-8}
driver="$build/bench/bench_http"
[ -x "$driver" ] || { echo "build $driver first (cmake --build --preset default)" >&2; exit 1; }

work=$(mktemp -d /tmp/bench_http.XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/small" "$work/out"
head -c $((50 << 20)) /dev/urandom >"$work/www/big.bin"
head -c $((100 << 10)) /dev/urandom >"$work/www/small/proto.bin"
for i in $(seq -w 0 999); do cp "$work/www/small/proto.bin" "$work/www/small/$i.bin"; done
chmod -R a+rX "$work/www"

start_nginx "$work" "$work/www" small/000.bin
server=nginx

base="http://127.0.0.1:$port"
for i in $(seq -w 0 999); do echo "$base/small/$i.bin"; done >"$work/small.urls"
for i in $(seq -w 0 999); do printf 'url = "%s/small/%s.bin"\noutput = "%s/out/c%s.bin"\n' "$base" "$i" "$work" "$i"; done >"$work/small.curl"

# Runs a command, prints "<seconds> <peak RSS KiB>" of it.
measure() {
  python3 - "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.monotonic()
rc = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)
elapsed = time.monotonic() - start
if rc != 0:
    sys.exit("failed: %s" % " ".join(sys.argv[1:]))
print("%.3f %d" % (elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
EOF
}

report() { # name bytes ours(sec rss) curl(sec rss)
  python3 - "$@" <<'EOF'
import sys
name, size, ts, tr, cs, cr = sys.argv[1], int(sys.argv[2]), *map(float, sys.argv[3:7])
mib = size / (1 << 20)
print("%-28s ours %8.3f s %9.1f MiB/s  peak %7.1f MiB | curl %7.3f s %9.1f MiB/s  peak %6.1f MiB | ours/curl %.3f"
      % (name, ts, mib / ts, tr / 1024, cs, mib / cs, cr / 1024, cs / ts))
EOF
}

export TAMBLIN_COOKIE_FILE=
echo "server: $server on 127.0.0.1:$port; curl $(curl --version | head -1 | cut -d' ' -f2)"

read -r t1 r1 < <(measure "$driver" "$work/out" "$base/big.bin")
cmp -s "$work/out/0000.bin" "$work/www/big.bin" || { echo "big file differs" >&2; exit 1; }
read -r c1 q1 < <(measure curl -sS -o "$work/out/curl-big.bin" "$base/big.bin")
report "1 x 50 MiB" $((50 << 20)) "$t1" "$r1" "$c1" "$q1"
rm -f "$work"/out/*

read -r t2 r2 < <(measure "$driver" "$work/out" "@$work/small.urls")
read -r c2 q2 < <(measure curl -sS -K "$work/small.curl")
report "1000 x 100 KiB, 1 worker" $((1000 * 100 << 10)) "$t2" "$r2" "$c2" "$q2"
[ "$(cat "$work"/out/0*.bin | wc -c)" -eq $((1000 * 100 << 10)) ] || { echo "small files incomplete" >&2; exit 1; }
rm -f "$work"/out/*

read -r t3 r3 < <(measure "$driver" -j "$threads" "$work/out" "@$work/small.urls")
read -r c3 q3 < <(measure curl -sS --no-progress-meter -Z --parallel-max "$threads" -K "$work/small.curl")
report "1000 x 100 KiB, $threads parallel" $((1000 * 100 << 10)) "$t3" "$r3" "$c3" "$q3"
rm -f "$work"/out/*

# The same without the pause after each read, to show what it costs.
read -r t4 r4 < <(measure "$driver" -p 0 "$work/out" "$base/big.bin")
report "1 x 50 MiB, no read pause" $((50 << 20)) "$t4" "$r4" "$c1" "$q1"
rm -f "$work"/out/*
read -r t5 r5 < <(measure "$driver" -p 0 "$work/out" "@$work/small.urls")
report "1000 x 100 KiB, no pause" $((1000 * 100 << 10)) "$t5" "$r5" "$c2" "$q2"
