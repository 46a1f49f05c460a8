#!/usr/bin/env bash
# 1,000 pictures of 100 to 300 KiB served by nginx on loopback, fetched three
# ways over the same address list: our download pool with 15 workers
# (bench_download, one thread per picture as in a real album), aria2c with 15
# parallel downloads, and gallery-dl (one picture at a time, its only mode).
# Prints the wall time of each, the ratios to ours and our peak resident
# memory.
#
#   bench/bench_download.sh [build-dir]
#
# Our pool pauses 10 ms after each read of at most 102,399 bytes (the HTTP
# client's pacing), which costs a picture of 200 KiB about 20 ms.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/nginx.sh
root=$PWD
build=${1:-build}
driver="$build/bench/bench_download"
[ -x "$driver" ] || { echo "build $driver first (cmake --build --preset default)" >&2; exit 1; }
for tool in aria2c gallery-dl; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (apt-get install $tool)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/bench_download.XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
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

start_nginx "$work" "$work/www" pics/0000.jpg

for i in $(seq -w 0 999); do echo "http://127.0.0.1:$port/pics/0$i.jpg"; done >"$work/urls.txt"
export TAMBLIN_COOKIE_FILE=
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY

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

expected=$(find "$work/www/pics" -type f -printf "%s\n" | awk "{s+=\$1} END {print s}")
check() { # name files bytes
  [ "$2" -eq 1000 ] && [ "$3" -eq "$expected" ] || { echo "$1 fetched $2 files, $3 bytes (want 1000, $expected)" >&2; exit 1; }
}

echo "server: nginx on 127.0.0.1:$port; aria2c $(aria2c --version | head -1 | cut -d' ' -f3); gallery-dl $(gallery-dl --version)"
read -r ours ours_rss ours_files ours_bytes < <(measure "$work/ours" "$driver" -j 15 "$work/ours" "$work/urls.txt")
check ours "$ours_files" "$ours_bytes"
read -r aria aria_rss aria_files aria_bytes < <(measure "$work/aria" aria2c -q -j15 -x1 --file-allocation=none \
  --allow-overwrite=true --auto-file-renaming=false --check-certificate=false --summary-interval=0 \
  -d "$work/aria" -i "$work/urls.txt")
check aria2c "$aria_files" "$aria_bytes"
read -r gdl gdl_rss gdl_files gdl_bytes < <(measure "$work/gdl" gallery-dl --config-ignore -q --no-part \
  -D "$work/gdl" -i "$work/urls.txt")
check gallery-dl "$gdl_files" "$gdl_bytes"

python3 - "$ours" "$ours_rss" "$aria" "$aria_rss" "$gdl" "$gdl_rss" <<'PY'
import sys
ours, ours_rss, aria, aria_rss, gdl, gdl_rss = map(float, sys.argv[1:])
print("ours (pool, 15 workers)  %8.3f s  peak RSS %6.1f MiB" % (ours, ours_rss / 1024))
print("aria2c -j15 -i           %8.3f s  peak RSS %6.1f MiB  ratio to ours %.2f" % (aria, aria_rss / 1024, aria / ours))
print("gallery-dl -i            %8.3f s  peak RSS %6.1f MiB  ratio to ours %.2f" % (gdl, gdl_rss / 1024, gdl / ours))
PY
