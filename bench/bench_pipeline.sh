#!/usr/bin/env bash
# Two download runs of tamblin-cli through the fake Sina service:
#
#   pages   a Sina photo album of 200 pictures (20 KiB) on 10 pages of 20,
#           each page answering after 0.5 s and each picture after 0.1 s,
#           5 workers: the time until the first picture is on disk and the
#           time of the whole run (listing alone takes about 5.5 s, the
#           pictures alone about 4 s);
#   twice   a Weibo user whose image wall (96 pictures) holds the 48 of its
#           one album, both downloaded ("全部图片" and the album): picture
#           requests against pictures saved.
#
#   bash bench/bench_pipeline.sh [path/to/tamblin-cli]
#
# Each figure is the best of three runs.
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
root=$PWD
cli=$(built_tamblin_cli "${1:-$root/build/src/apps/tamblin-cli}")

scratch_folder_for_fake_service

python3 - "$work/data.json" <<'PY'
import json, sys
photos, pictures = [], {}
for i in range(200):
    photos.append({"src": "http://static.photo.sina.com.cn/small/b%d" % i, "title": "p%03d" % i})
    pictures["http://static.photo.sina.com.cn/orignal/b%d" % i] = {"size": 20480}
wall = ["%032x" % (0xB0000 + i) for i in range(96)]
data = {
    "sina_photo_users": [{"uid": "9", "title": "bench", "albums": [
        {"name": "pages", "ctg_id": "1", "per_page": 20, "photos": photos}]}],
    "weibo_users": [{"uid": "99", "nickname": "twice", "needs_login": False, "album_service": "502",
                     "image_wall": {"per_page": 48, "pictures": wall,
                                    "albums": [{"pic_title": "album", "containerid": "107803_99_1",
                                                "per_page": 48, "pictures": wall[:48]}]}}],
    "pictures": pictures,
    "faults": [{"match": "http://photo.blog.sina.com.cn/category/u/9/s/1/page", "delay": 0.5},
               {"match": "http://static.photo.sina.com.cn/orignal/", "delay": 0.1}],
}
json.dump(data, open(sys.argv[1], "w"))
PY

start_fake_service "$work/data.json" "$work" --log "$work/requests.log"
export TAMBLIN_COOKIE_FILE="$work/cookies.txt"

python3 - "$cli" "$work" <<'PY'
import json, os, subprocess, sys, time

cli, work = sys.argv[1], sys.argv[2]

def requests():
    # GET requests only: a CONNECT is logged as "host:port".
    with open(os.path.join(work, "requests.log"), encoding="utf-8") as log:
        return [r["url"] for r in map(json.loads, log) if r["method"] == "GET"]

def run(name, address):
    start = os.path.join(work, "start-%s-%d" % (name, time.monotonic_ns()))
    save = os.path.join(start, "save")
    os.makedirs(start)
    t0 = time.monotonic()
    child = subprocess.Popen([cli, "download", address, "--save", save, "--threads", "5"], cwd=start,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first = None
    while child.poll() is None:
        if first is None:
            for _, _, files in os.walk(save):
                if any(f.endswith(".jpg") or f.endswith(".gif") for f in files):
                    first = time.monotonic() - t0
                    break
        time.sleep(0.01)
    total = time.monotonic() - t0
    if child.returncode != 0:
        sys.exit("tamblin-cli download %s failed (exit %d)" % (address, child.returncode))
    saved = sum(len([f for f in files if f.endswith(".jpg") or f.endswith(".gif")]) for _, _, files in os.walk(save))
    return first if first is not None else total, total, saved

best = min((run("pages", "http://photo.blog.sina.com.cn/u/9") for _ in range(3)), key=lambda r: r[1])
print("pages: first picture on disk after %6.2f s, run done after %6.2f s, %d pictures" % best)

results = []
for _ in range(3):
    before = len(requests())
    first, total, saved = run("twice", "https://weibo.com/u/99")
    asked = sum(1 for url in requests()[before:] if "sinaimg.cn" in url)
    results.append((total, asked, saved))
total, asked, saved = min(results)
print("twice: %d picture requests for %d pictures saved, run done after %6.2f s" % (asked, saved, total))
PY
