#!/usr/bin/env bash
# An offline demo of `tamblin-cli list` and `tamblin-cli download`: starts the
# fake Sina service on loopback, points http_proxy at it, lists the albums of
# a demo user on each service, in a scratch start folder, as a user would see
# them, then downloads every album of each and shows the files.
#
#   bash tools/demo.sh            # builds first when needed
#   bash tools/demo.sh --window   # the window instead, against the same service
#
# With --window the window opens in a scratch start folder (its settings and
# the pictures it downloads go there and are removed when it closes), logged
# in to the demo Weibo account, with a scratch HOME whose certificate store
# trusts the fake service, so that the login browser loads its https pages as
# it loads the real ones. The address box offers the demo addresses:
#   http://photo.blog.sina.com.cn/u/1234567890
#   http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html
#   http://weibo.com/u/2000000001
#
# With internet access the same program takes real addresses:
#   ./build/src/apps/tamblin-cli list http://photo.blog.sina.com.cn/u/<uid>
#   ./build/src/apps/tamblin-cli download http://photo.blog.sina.com.cn/u/<uid> --albums 2 --save ~/Pictures
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/fake_service/start.sh
root=$PWD
cli=$root/build/src/apps/tamblin-cli
window=$root/build/src/apps/tamblin

mode=cli
if [ "${1:-}" = "--window" ]; then
  mode=window
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "tools/demo.sh --window needs a display (DISPLAY or WAYLAND_DISPLAY); bash tools/demo.sh runs without one." >&2
    exit 1
  fi
fi

if [ ! -x "$cli" ] || { [ "$mode" = window ] && [ ! -x "$window" ]; }; then
  bash tools/deps.sh
  bash tools/build.sh
fi

scratch_folder_for_fake_service

start_fake_service tests/fake_service/demo.json "$work"
# The demo login must not land in the user's own cookie store.
export TAMBLIN_COOKIE_FILE=$work/cookie-store.txt

# The Weibo demo user shows their page only to a logged-in visitor. A login
# made with 下次自动登录: SUB for a week, and the passport cookie that renews it.
week=$(($(date +%s) + 7 * 86400))
{
  printf '# Netscape HTTP Cookie File\n'
  printf '#HttpOnly_.weibo.com\tTRUE\t/\tFALSE\t%s\tSUB\tdemo-login\n' "$week"
  printf '#HttpOnly_passport.weibo.com\tFALSE\t/\tTRUE\t%s\tALF\tfake-passport\n' "$((week + 23 * 86400))"
} >"$work/cookies.txt"
mkdir "$work/start"
cd "$work/start"

if [ "$mode" = window ]; then
  # The store file of the window's cookies starts with the demo login.
  cp "$work/cookies.txt" "$work/cookie-store.txt"
  # The address box offers the demo addresses as its history.
  python3 - "$work/start/soft.dat" <<'PY'
import sys
addresses = ["http://photo.blog.sina.com.cn/u/1234567890",
             "http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html",
             "http://weibo.com/u/2000000001"]
image = bytearray(19808)
for i, address in enumerate(addresses):
    text = address.encode("utf-16-le")
    image[11808 + 800 * i:11808 + 800 * i + len(text)] = text
open(sys.argv[1], "wb").write(image)
PY
  mkdir "$work/home"
  trust_fake_service_in_browser "$work/home" || echo "certutil failed: the login browser will not trust the fake service (bash tools/deps.sh installs libnss3-tools)" >&2
  echo "Fake Sina service on 127.0.0.1:$port (http_proxy=$http_proxy); opening the window."
  echo "Demo addresses: http://photo.blog.sina.com.cn/u/1234567890"
  echo "                http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html"
  echo "                http://weibo.com/u/2000000001"
  HOME=$work/home "$window"
  exit 0
fi

run() {
  echo
  echo "\$ tamblin-cli list $*"
  "$cli" list "$@" || echo "(exit status $?)"
}

echo "Fake Sina service on 127.0.0.1:$port (http_proxy and https_proxy=$http_proxy, CURL_CA_BUNDLE=$CURL_CA_BUNDLE)"
run http://photo.blog.sina.com.cn/u/1234567890
run http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html
run http://weibo.com/u/2000000001
run --cookies "$work/cookies.txt" http://weibo.com/u/2000000001
run --json http://weibo.com/u/2000000001
# A user whose album service answers 502: the albums of the image wall.
run --cookies "$work/cookies.txt" https://weibo.com/u/2000000002
# A user a guest may read, at a mobile address, with no cookies file and a
# cookie store of its own: the passport's visitor cookies open the image wall.
guest() {
  echo
  echo "\$ tamblin-cli $*    # as a guest"
  TAMBLIN_COOKIE_FILE=$work/guest-store.txt "$cli" "$@" || echo "(exit status $?)"
}
guest list https://m.weibo.cn/u/2000000003

download() {
  echo
  echo "\$ tamblin-cli download $*"
  "$cli" download "$@" || echo "(exit status $?)"
}

# Every album of every demo user, into one save folder; the album rows,
# status lines and each run's summary go to standard error.
download http://photo.blog.sina.com.cn/u/1234567890 --save "$work/pictures"
# Every picture of each blog article, not only its first.
download http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html --all-article-pictures
download --cookies "$work/cookies.txt" http://weibo.com/u/2000000001 --threads 8
download --cookies "$work/cookies.txt" https://weibo.com/u/2000000002 --threads 3
# The guest's whole wall: each Live Photo gives its still and its .mov clip,
# the gif its .mp4, the video post <mid>.mp4.
guest download https://weibo.com/livecat --threads 3
echo
echo "Files written below the save folder, per album folder:"
(cd "$work/pictures" && find . -type f ! -name pic.orv -printf '%h\n' | sort | uniq -c)
echo
echo "The guest's Live Photo clips and videos:"
(cd "$work/pictures" && find . -type f \( -name '*.mov' -o -name '*.mp4' \) -printf '%10s  %p\n' | sort -k2)
