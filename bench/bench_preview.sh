#!/usr/bin/env bash
# The preview view of 600 albums whose covers come from a server that waits
# 80 ms before each answer (the fake service): prints the time until every
# thumbnail is shown, with covers fetched 8 at a time, and that a second
# switch into the preview view makes no request. With --sequential it also
# times one cover at a time, as the plain design fetches them (about a minute).
#
#   bash bench/bench_preview.sh [--sequential] [path/to/bench_preview]
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
sequential=0
if [ "${1:-}" = "--sequential" ]; then sequential=1; shift; fi
driver=${1:-$PWD/build/bench/bench_preview}
[ -x "$driver" ] || { echo "no bench_preview at $driver; build first (bash tools/build.sh)" >&2; exit 1; }

scratch_folder_for_fake_service

albums=600
python3 - "$albums" >"$work/data.json" <<'PY'
import json, sys
n = int(sys.argv[1])
pictures = {"http://ww1.sinaimg.cn/thumb300/cover%d.jpg" % i: {"format": "jpeg", "size": 12000} for i in range(n)}
print(json.dumps({"pictures": pictures, "faults": [{"match": "http://ww1.sinaimg.cn/", "delay": 0.08}]}))
PY
start_fake_service "$work/data.json" "$work" --log "$work/requests.log"
export TAMBLIN_COOKIE_FILE=

pattern='http://ww1.sinaimg.cn/thumb300/cover%1.jpg'
"$driver" "$albums" 8 "$pattern" "$work/requests.log"
if [ "$sequential" = 1 ]; then
  "$driver" "$albums" 1 "$pattern" "$work/requests.log"
fi
