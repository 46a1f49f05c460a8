#!/usr/bin/env bash
# Downloads the whole image wall of a generated Weibo user with tamblin-cli
# through the fake service, at the default pacing of Weibo page requests
# (one a second): 1,000 wall pictures on pages of 24, in posts of five, 70%
# of them Live Photos whose wall items carry their clip, as real walls do.
#
#   bash bench/bench_weibo_wall.sh [path/to/tamblin-cli]
#
# Prints the statuses/show calls, the time until the first picture is on
# disk, the whole run's time against the floor the pacing sets for the wall
# pages (one request a second), and the requests in all. It asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
root=$PWD
cli=$(built_tamblin_cli "${1:-$root/build/src/apps/tamblin-cli}")

scratch_folder_for_fake_service

pictures=${PICTURES:-1000}
per_page=24
python3 - "$work/data.json" "$pictures" "$per_page" <<'PY'
import hashlib, json, sys
path, count, per_page = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
items = []
for i in range(count):
    pid = hashlib.md5(b"bench-%d" % i).hexdigest()
    # 7 in 10 are Live Photos; five pictures a post, newest first.
    kind = "livephoto" if i % 10 < 7 else "pic"
    items.append({"pid": pid, "mid": str(4900000000000000 - (i // 5) * 4194304 * 3600), "type": kind})
# Today's user page names no owner: the list goes to the profile and the wall.
json.dump({"weibo_users": [{"uid": "7000000001", "nickname": "bench", "needs_login": False, "oid_form": "none",
                            "album_service": "empty",
                            "image_wall": {"per_page": per_page, "pictures": items}}]}, open(path, "w"))
PY

start_fake_service "$work/data.json" "$work" --log "$work/requests.jsonl"
export TAMBLIN_COOKIE_FILE=
mkdir -p "$work/start"

python3 - "$cli" "$work" "$pictures" "$per_page" <<'PY'
import json, math, os, re, subprocess, sys, time

cli, work, pictures, per_page = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
save = os.path.join(work, "save")
final = re.compile(r"\.(jpg|jpeg|png|gif|webp|mov|mp4)$")

def on_disk():
    for _, _, names in os.walk(save):
        for name in names:
            if final.search(name):
                return True
    return False

# Standard error to a file: a pipe nobody reads would stall the run.
err_file = open(os.path.join(work, "stderr.txt"), "w+b")
t0 = time.monotonic()
child = subprocess.Popen([cli, "download", "https://weibo.com/u/7000000001", "--save", save],
                         cwd=os.path.join(work, "start"), stdout=subprocess.DEVNULL, stderr=err_file)
first = None
while child.poll() is None:
    if first is None and on_disk():
        first = time.monotonic() - t0
    time.sleep(0.02)
total = time.monotonic() - t0
err_file.seek(0)
err = err_file.read().decode("utf-8", "replace")
if first is None and on_disk():
    first = total
files = sum(1 for _, _, names in os.walk(save) for n in names if final.search(n))

requests = []
with open(os.path.join(work, "requests.jsonl"), encoding="utf-8") as log:
    for line in log:
        entry = json.loads(line)
        if entry["method"] != "CONNECT":
            requests.append(entry["url"])
shows = sum(1 for u in requests if "/ajax/statuses/show" in u)
walls = sum(1 for u in requests if "/ajax/profile/getImageWall" in u)
pages = math.ceil(pictures / per_page)
clips = sum(1 for u in requests if "video.weibo.com/media/play" in u or ".mov?" in u or "livephoto.us" in u)
print("tamblin-cli exit %d; %d files saved (%d pictures, %d of them Live Photos)"
      % (child.returncode, files, pictures, pictures * 7 // 10))
print("statuses/show calls:         %6d" % shows)
print("wall page requests:          %6d  (%d pages)" % (walls, pages))
print("first picture on disk after: %9.1f s" % (first if first is not None else float("nan")))
print("whole run:                   %9.1f s  (floor for the wall pages %d s: %.2f of it)"
      % (total, pages, total / pages))
print("requests in all:             %6d  (clip requests %d)" % (len(requests), clips))
if child.returncode != 0:
    print(err[-2000:], file=sys.stderr)
PY
