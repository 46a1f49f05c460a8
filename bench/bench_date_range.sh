#!/usr/bin/env bash
# A one-month date range against the whole account: the image wall of a
# generated Weibo user (1,000 pictures on pages of 24, in posts of five
# spread evenly over three years, 70% Live Photos whose wall items carry
# their clip, the real wall's dated cursors) downloaded by tamblin-cli through
# the fake service at the default pacing (one Weibo page a second), once
# whole and once with --since/--until for one month of the middle year.
#
#   bash bench/bench_date_range.sh [path/to/tamblin-cli]
#
# Prints, for each run, the wall pages asked, the requests in all, the files
# saved and the time. It asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
root=$PWD
cli=$(built_tamblin_cli "${1:-$root/build/src/apps/tamblin-cli}")

scratch_folder_for_fake_service

pictures=${PICTURES:-1000}
since=${SINCE:-2022-06-01}
until=${UNTIL:-2022-06-30}
python3 - "$work/data.json" "$pictures" <<'PY'
import hashlib, json, sys
path, count = sys.argv[1], int(sys.argv[2])
newest = 1704038400  # 2023-12-31 16:00 UTC, the last day of 2023 in China
span = 3 * 365 * 86400
posts = (count + 4) // 5
items = []
for i in range(count):
    post = i // 5
    seconds = newest - post * span // posts
    mid = str(((seconds - 515483463) << 22) + post % 1024)
    kind = "livephoto" if i % 10 < 7 else "pic"
    items.append({"pid": hashlib.md5(b"range-%d" % i).hexdigest(), "mid": mid, "type": kind})
json.dump({"weibo_users": [{"uid": "7000000003", "nickname": "range", "needs_login": False,
                            "album_service": "empty",
                            "image_wall": {"per_page": 24, "pictures": items, "dated_cursors": True}}]},
          open(path, "w"))
PY

start_fake_service "$work/data.json" "$work" --log "$work/requests.jsonl"
export TAMBLIN_COOKIE_FILE=

python3 - "$cli" "$work" "$since" "$until" <<'PY'
import json, os, re, subprocess, sys, time

cli, work, since, until = sys.argv[1:5]
log = os.path.join(work, "requests.jsonl")
final = re.compile(r"\.(jpg|jpeg|png|gif|webp|mov|mp4)$")

def run(name, extra):
    start = os.path.join(work, "start-" + name)
    save = os.path.join(work, "save-" + name)
    os.makedirs(start)
    before = sum(1 for _ in open(log, encoding="utf-8"))
    t0 = time.monotonic()
    result = subprocess.run([cli, "download", "https://weibo.com/u/7000000003", "--save", save] + extra,
                            cwd=start, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.monotonic() - t0
    urls = []
    with open(log, encoding="utf-8") as lines:
        for n, line in enumerate(lines):
            entry = json.loads(line)
            if n >= before and entry["method"] != "CONNECT":
                urls.append(entry["url"])
    walls = sum(1 for u in urls if "/ajax/profile/getImageWall" in u)
    files = sum(1 for _, _, names in os.walk(save) for f in names if final.search(f))
    summary = result.stderr.decode("utf-8", "replace").strip().splitlines()[-1:]
    print("%-22s exit %d  wall pages %3d  requests %5d  files %5d  %6.1f s   %s"
          % (name, result.returncode, walls, len(urls), files, seconds, summary[0] if summary else ""))

run("whole account", [])
run("%s..%s" % (since, until), ["--since", since, "--until", until])
PY
