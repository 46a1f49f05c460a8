#!/usr/bin/env bash
# Lists two generated Weibo users, of 6,553 and 65,535 albums, with
# tamblin-cli through the fake Sina service, and prints the wall time of each
# run, their ratio (about 10 when the list run is linear in the number of
# albums) and the peak resident memory of each run.
#
#   bash bench/bench_list.sh [path/to/tamblin-cli]
#
# Album captions repeat every 1,000 albums, so the unique-name rule (" (n)")
# works hard; each run also enters its address into the history.
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
root=$PWD
cli=$(built_tamblin_cli "${1:-$root/build/src/apps/tamblin-cli}")

scratch_folder_for_fake_service

cat >"$work/data.json" <<'JSON'
{
  "weibo_users": [
    {"uid": "6553", "nickname": "small", "needs_login": false, "generate_albums": 6553, "generate_distinct": 1000},
    {"uid": "65535", "nickname": "large", "needs_login": false, "generate_albums": 65535, "generate_distinct": 1000}
  ]
}
JSON

start_fake_service "$work/data.json" "$work"
export TAMBLIN_COOKIE_FILE=

# Let the service build and compress both answers before anything is timed.
for uid in 6553 65535; do
  curl -s -o /dev/null -x "$http_proxy" -H 'Accept-Encoding: gzip, deflate' \
    "http://photo.weibo.com/albums/get_all?uid=$uid&count=65535"
done

python3 - "$cli" "$work" <<'PY'
import os, resource, subprocess, sys, time

cli, work = sys.argv[1], sys.argv[2]

def run(uid):
    start = os.path.join(work, "start-" + uid)
    os.makedirs(start, exist_ok=True)
    t0 = time.monotonic()
    # Each run in a child of its own, so that ru_maxrss is that run's peak.
    pid = os.fork()
    if pid == 0:
        os.chdir(start)
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        os.execv(cli, [cli, "list", "http://weibo.com/u/" + uid])
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - t0
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("tamblin-cli list failed for user %s (exit %d)" % (uid, code))
    return wall, usage.ru_maxrss / 1024.0

small = min((run("6553") for _ in range(3)), key=lambda r: r[0])
large = min((run("65535") for _ in range(3)), key=lambda r: r[0])
print("list   6,553 albums: %7.3f s wall, peak RSS %7.1f MiB" % small)
print("list  65,535 albums: %7.3f s wall, peak RSS %7.1f MiB" % large)
print("ratio 65,535 / 6,553: %.2f (10.0 would be linear)" % (large[0] / small[0]))
PY
