#!/usr/bin/env python3
"""A stand-in for the Sina photo service, the Sina blog, Weibo and the Weibo
photo service, for tests and the offline demo.

It is an HTTP proxy that never forwards: clients point http_proxy (and
https_proxy) at it and keep the real host names, so the program's real request
path is exercised. CONNECT tunnels end here: TLS is terminated under a test
certificate authority made at start (openssl), which clients trust through
CURL_CA_BUNDLE.
Everything it serves comes from a JSON data file (see README.md beside this
file). Standard library only.

    fake_service.py --data demo.json [--port 0] [--log requests.jsonl] [--tls-dir DIR]

It prints the port it listens on as one line on stdout once it is ready; the
authority's certificate is then in DIR/ca.pem.
"""

import argparse
import base64
import colorsys
import gzip
import hashlib
import html
import json
import os
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import struct
import urllib.parse
import warnings
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SINA_PHOTO_HOST = "photo.blog.sina.com.cn"
SINA_BLOG_HOST = "blog.sina.com.cn"
WEIBO_HOST = "weibo.com"
WEIBO_PHOTO_HOST = "photo.weibo.com"


# ---------------------------------------------------------------------------
# Text helpers


def json_text(value):
    """A JSON string literal as the services write it: every non-ASCII
    character as a \\u escape, every slash as \\/."""
    return json.dumps(str(value), ensure_ascii=True).replace("/", "\\/")


def attr(value):
    """Text for an HTML attribute or element body."""
    return html.escape(str(value), quote=True)


def json_object(fields, order):
    """Writes an object from (key, literal) pairs in `order`; keys missing
    from `fields` are left out."""
    parts = []
    for key in order:
        if key in fields:
            parts.append('"%s":%s' % (key, fields[key]))
    return "{" + ",".join(parts) + "}"


# ---------------------------------------------------------------------------
# The data model


class Data:
    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            self.raw = json.load(f)
        self.base_dir = os.path.dirname(os.path.abspath(path))
        self.login_cookie = self.raw.get("login_cookie", "SUB=fake-login")
        self.sina_photo_users = self.raw.get("sina_photo_users", [])
        self.sina_blogs = self.raw.get("sina_blogs", [])
        self.weibo_users = self.raw.get("weibo_users", [])
        self.pages = self.raw.get("pages", {})
        self.pictures = self.raw.get("pictures", {})
        self.faults = self.raw.get("faults", [])
        self.fault_hits = {}
        self.empty_hits = {}
        self.lock = threading.Lock()
        self.cache = {}
        for user in self.weibo_users:
            generate = int(user.get("generate_albums", 0))
            if generate:
                user["albums"] = generated_weibo_albums(user, generate)
        # Today's picture hosts refuse a picture request without a Referer.
        self.picture_referer = bool(self.raw.get("picture_referer", True))
        self.tls = self.raw.get("tls", {})
        self.posts = {}  # mid -> (user, statuses/show answer)
        self.post_pictures = {}  # mid -> every (pid, type) of the post
        self.followers_only = set()  # mids a login alone reads
        self.visitor_subs = set()  # SUBs the passport handed out
        self.visitor_tids = {}  # SUB -> the visitor id (tid) genvisitor2 gave with it
        self.visitor_uses = {}  # SUB -> answers it has read
        # "visitor_requests" N: a visitor's SUB reads N answers, then has run out.
        self.visitor_requests = int(self.raw.get("visitor_requests", 0))
        self.verified_cookie = self.raw.get("verified_cookie", "VF=passed")
        # How long the clip addresses of a post's answer live ("clip_lifetime":
        # seconds, or a list of them, one per answer; a wall item's own wins
        # for its post).
        self.clip_lifetime = self.raw.get("clip_lifetime", 3600)
        self.clip_lifetimes = {}  # mid -> the item's "clip_lifetime"
        self.post_reads = {}  # mid -> answers of statuses/show given
        add_image_wall_pictures(self)
        add_generated_pictures(self)
        self.user_posts = {}  # uid -> the mymblog list, newest first
        self.long_texts = {}  # mid -> the whole text of a post cut short
        for user in self.weibo_users:
            add_user_posts(self, user)
        # Logins the service gave by renewal (weibo_passport_page).
        self.renewed_logins = set()

    def tls_kind(self, host):
        """How the host's TLS misbehaves, if it does (the "tls" key)."""
        for kind in ("expired", "untrusted", "tls10_only"):
            if host in self.tls.get(kind, []):
                return kind
        return "good"

    def find(self, items, key, value):
        for item in items:
            if str(item.get(key)) == value:
                return item
        return None


def generated_weibo_albums(user, count):
    """`count` albums for a large user; captions repeat every
    `generate_distinct` albums so that unique naming is exercised."""
    distinct = int(user.get("generate_distinct", count)) or count
    base = int(user.get("generate_first_id", 3000000000))
    albums = []
    for i in range(count):
        albums.append({
            "album_id": str(base + i),
            "type": 3,
            "caption": "相册%d" % (i % distinct),
            "cover_pic": "http://ww1.sinaimg.cn/thumb300/cover%d.jpg" % i,
            "photos": i % 97,
        })
    return albums


# ---------------------------------------------------------------------------
# Pages of the Sina photo service


def sina_photo_user_page(user):
    uid = str(user["uid"])
    title = user.get("title", "")
    title_html = user.get("title_html", '<a href="http://%s/u/%s">%s</a>' % (SINA_PHOTO_HOST, uid, attr(title)))
    return (
        '<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s_新浪相册</title></head><body>\n'
        '<div id="header"><h1 class="blogtitle">%s</h1></div>\n'
        '<ul class="nav"><li><a href="http://%s/s/articlelist_%s_0_1.html">博文目录</a></li>'
        '<li><a href="http://%s/u/%s">图片</a></li></ul>\n'
        '<div class="albums">相册加载中...</div></body></html>\n'
        % (attr(title), title_html, SINA_BLOG_HOST, uid, SINA_PHOTO_HOST, uid))


SINA_CATEGORY_ORDER = ["category", "ctg_id", "pic_cnt", "ctg_url", "big_url", "updated"]


def sina_album_url(user, album, index):
    return album.get("ctg_url", "http://%s/category/u/%s/s/%s" % (SINA_PHOTO_HOST, user["uid"], album.get("ctg_id", index + 1)))


def sina_category_list(user):
    items = []
    for index, album in enumerate(user.get("albums", [])):
        if "raw_json" in album:
            items.append(album["raw_json"])
            continue
        fields = {
            "category": json_text(album.get("name", "")),
            "ctg_id": json_text(album.get("ctg_id", index + 1)),
            "pic_cnt": json_text(album.get("pic_cnt", len(album.get("photos", [])))),
            "ctg_url": json_text(sina_album_url(user, album, index)),
            "big_url": json_text(album.get("cover", "http://static.photo.sina.com.cn/orignal/cover%d.jpg" % index)),
            "updated": json_text("2014-05-30"),
        }
        for key in album.get("omit", []):
            fields.pop(key, None)
        items.append(json_object(fields, album.get("key_order", SINA_CATEGORY_ORDER)))
    return '{"code":"A00006","data":{"total":%d,"list":[%s]}}' % (len(items), ",".join(items))


def cycled_page(item, page):
    """`cycle_pages` N answers page n as page (n - 1) % N + 1, next-page link
    included, so that a walk meets pages it has seen; `endless_pages` is a
    cycle of one."""
    cycle = 1 if item.get("endless_pages") else int(item.get("cycle_pages", 0))
    return ((page - 1) % cycle + 1, True) if cycle > 0 else (page, False)


def sina_album_page(user, album, page):
    """One page of a Sina photo album (class="pt_border" thumbnails); the
    attributes after the class follow `attr_order` (default src, title)."""
    per_page = int(album.get("per_page", 20))
    photos = album.get("photos", [])
    page, endless = cycled_page(album, page)
    chunk = photos[(page - 1) * per_page:page * per_page]
    order = album.get("attr_order", ["src", "title"])
    blocks = []
    for photo in chunk:
        values = {
            "src": photo.get("src", photo) if isinstance(photo, dict) else photo,
            "title": photo.get("title", "") if isinstance(photo, dict) else "",
        }
        attrs = " ".join('%s="%s"' % (name, attr(values[name])) for name in order)
        blocks.append('<div class="pic"><a href="#"><img class="pt_border" %s /></a></div>' % attrs)
    more = page * per_page < len(photos) or endless
    next_link = ('<a href="%s/page%d">下一页</a>' % (sina_album_url(user, album, 0), page + 1)) if more else ""
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>%s<div class="pages">%s</div></body></html>'
            % ("".join(blocks), next_link))


# ---------------------------------------------------------------------------
# Pages of the Sina blog (GBK)


def blog_article_url(article):
    return "http://%s/s/blog_%s.html" % (SINA_BLOG_HOST, article["id"])


def blog_list_page(blog, page):
    uid = str(blog["uid"])
    per_page = int(blog.get("per_page", 50))
    articles = blog.get("articles", [])
    page, endless = cycled_page(blog, page)
    chunk = articles[(page - 1) * per_page:page * per_page]
    style = blog.get("style", "atc_title")
    items = []
    for article in chunk:
        title = attr(article.get("title", ""))
        url = attr(article.get("url", blog_article_url(article)))
        if style == "linedot":
            # The older design: href before title, no atc_title class.
            items.append('<div class="SG_j_linedot1"><span class="atc_ti"><a href="%s" target="_blank" title="%s">%s</a></span></div>\n'
                         % (url, title, title))
        else:
            items.append('<div class="articleCell SG_j_linedot1"><p class="atc_main SG_dot">'
                         '<span class="atc_title"><a title="%s" target="_blank" href="%s">%s</a></span></p>'
                         '<p class="atc_info"><span class="atc_tm SG_txtc">(%s)</span></p></div>\n'
                         % (title, url, title, attr(article.get("date", "2014-05-30 10:00"))))
    more = page * per_page < len(articles) or endless
    pager = ""
    if more:
        pager = ('<li class="SG_pgnext"><a href="http://%s/s/articlelist_%s_0_%d.html" title="跳转至第 %d 页">下一页&gt;</a></li>'
                 % (SINA_BLOG_HOST, uid, page + 1, page + 1))
    title_html = blog.get("title_html", '<a href="http://%s/u/%s"><span id="blognamespan">%s</span></a>'
                          % (SINA_BLOG_HOST, uid, attr(blog.get("title", ""))))
    return ('<!DOCTYPE html><html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312" />'
            '<title>博文目录_%s_新浪博客</title></head><body>\n'
            '<div class="blogtop"><h1 id="blogname" class="blogtitle">%s</h1></div>\n'
            '<div class="articleList">\n%s</div>\n<ul class="SG_pages">%s</ul></body></html>\n'
            % (attr(blog.get("title", "")), title_html, "".join(items), pager))


def blog_article_page(blog, article):
    pictures = "".join('<a href="http://photo.blog.sina.com.cn/showpic.html#blogid=%s&url=%s" target="_blank">'
                       '<img src="http://simg.sinajs.cn/blog7style/images/common/sg_trans.gif" real_src ="%s" /></a><br />'
                       % (attr(article["id"]), attr(p), attr(p)) for p in article.get("pictures", []))
    return ('<!DOCTYPE html><html><head><meta http-equiv="Content-Type" content="text/html; charset=gb2312" />'
            '<title>%s_新浪博客</title></head><body>\n<div class="articalTitle"><h2>%s</h2></div>\n'
            '<div id="sina_keyword_ad_area2" class="articalContent   ">\n%s<p>%s</p>\n</div>\n'
            '<div class="shareUp">分享</div></body></html>\n'
            % (attr(article.get("title", "")), attr(article.get("title", "")), pictures, attr(article.get("text", ""))))


# ---------------------------------------------------------------------------
# Weibo


def weibo_user_page(user):
    uid = str(user["uid"])
    nick = user.get("nickname", "")
    form = user.get("oid_form", "spaced")
    if form == "compact":
        config = "$CONFIG['oid']='%s';\n$CONFIG['onick']='%s';\n" % (uid, nick)
    elif form == "json":
        config = ('var FM = {"data":{"user":{"id":%s,"idstr":"%s","name":"%s","gender":"f"}}};\n'
                  % (uid, uid, nick.replace('"', '\\"')))
    elif form == "none":
        # Today's pages: a shell of the web client that names no owner.
        config = ""
    else:
        config = "$CONFIG['oid'] = '%s';\n$CONFIG['onick'] = '%s';\n" % (uid, nick)
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s的微博_微博</title>\n'
            '<script type="text/javascript">var $CONFIG = {};\n$CONFIG[\'islogin\'] = \'1\';\n%s</script>\n'
            '</head><body><div class="WB_frame">加载中</div></body></html>\n' % (attr(nick), config))


def weibo_login_page():
    # No owner id in any of the three forms.
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>Sina Visitor System</title></head>'
            '<body><div class="login">请先登录微博。<a href="https://passport.weibo.com/fake/login">登录'
            '（下次自动登录）</a></div></body></html>\n')


def weibo_cookie_page(data, path, query):
    """Pages of the login browser tests on weibo.com: /fake/login sets the
    login cookie by Set-Cookie (HttpOnly) and a second one by script,
    /fake/logout deletes both, /fake/cookie-flood?n=N sets N cookies by script
    plus cookies no browser keeps (a domain of ".com", an oversized value).
    Each page sets its title to "done" once its script has run."""
    script_cookie = data.raw.get("script_cookie", "SUBP=script-login")
    domain = "; path=/; domain=.weibo.com"
    if path == "/fake/login":
        # A login cookie lives a few days; ?sub_max_age=N makes it end sooner.
        header = data.login_cookie + domain + "; max-age=%d; HttpOnly" % int(query.get("sub_max_age", ["604800"])[0])
        script = 'document.cookie = %s;' % json.dumps(script_cookie + domain + "; max-age=31536000")
    elif path == "/fake/logout":
        header = data.login_cookie.split("=")[0] + "=" + domain + "; max-age=0"
        script = 'document.cookie = %s;' % json.dumps(script_cookie.split("=")[0] + "=" + domain + "; max-age=0")
    elif path == "/fake/cookie-flood":
        count = int(query.get("n", ["1000"])[0] or "0")
        header = "odd=1; path=/; domain=.com"
        script = ('for (var i = 0; i < %d; ++i) document.cookie = "f" + i + "=v; path=/; max-age=3600";\n'
                  'document.cookie = "long=" + "x".repeat(5000) + "; path=/";\n'
                  'document.cookie = "tld=1; path=/; domain=.com";' % count)
    else:
        return None
    text = "已登录，请手动关闭此窗口。" if path == "/fake/login" else attr(path)
    body = ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>loading</title></head><body>%s'
            '<script>%s\ndocument.title = "done";</script></body></html>\n' % (text, script))
    return Answer(body, headers={"Set-Cookie": header, "Cache-Control": "no-store"})


# A login made with 下次自动登录 leaves a long-lived passport cookie (ALF) on
# passport.weibo.com besides the login cookie (SUB, a few days). Once SUB has
# ended, https://weibo.com/ sends the browser through passport, which gives a
# fresh SUB for a valid ALF and sends it back; without one it ends at the
# login page.
PASSPORT_RENEW = "https://passport.weibo.com/fake/renew"


def weibo_passport_page(data, host, path, query, headers):
    alf = data.raw.get("passport_cookie", "ALF=fake-passport")
    if host == WEIBO_HOST and path == "/login.php":
        return Answer("", status=302, headers={"Location": LOGIN_URL})
    if host == WEIBO_HOST:
        # No live SUB (a login's ran out): through the passport, which
        # renews it from ALF.
        target = PASSPORT_RENEW + "?url=" + urllib.parse.quote("https://weibo.com/", safe="")
        return Answer("", status=302, headers={"Location": target, "Cache-Control": "no-store"})
    if path == "/fake/login":
        # The passport login page: the cookies of /fake/login, and ALF.
        answer = weibo_cookie_page(data, path, query)
        answer.headers["Set-Cookie"] = [answer.headers["Set-Cookie"],
                                        alf + "; path=/; max-age=2592000; Secure; HttpOnly"]
        return answer
    if path == "/fake/renew":
        back = query.get("url", ["https://weibo.com/"])[0]
        pairs = [p.strip() for p in (headers.get("Cookie") or "").split(";")]
        if alf not in pairs:
            return Answer("", status=302, headers={"Location": LOGIN_URL, "Cache-Control": "no-store"})
        with data.lock:
            login = "SUB=renewed-%d" % (len(data.renewed_logins) + 1)
            data.renewed_logins.add(login)
        return Answer("", status=302, headers={
            "Location": back, "Cache-Control": "no-store",
            "Set-Cookie": login + "; path=/; domain=.weibo.com; max-age=86400; Secure; HttpOnly"})
    return Answer(*NOT_FOUND)


WEIBO_ALBUM_ORDER = ["album_id", "uid", "type", "caption", "cover_pic", "photos", "is_private"]


def weibo_album_list(user):
    uid = str(user["uid"])
    items = []
    for album in user.get("albums", []):
        if "raw_json" in album:
            items.append(album["raw_json"])
            continue
        fields = {
            "album_id": json_text(album["album_id"]),
            "uid": json_text(uid),
            "type": str(int(album.get("type", 3))),
            "caption": json_text(album.get("caption", "")),
            "cover_pic": json_text(album.get("cover_pic", "")),
            "photos": str(int(album.get("photos", len(album.get("photo_list", []))))),
            "is_private": "false",
        }
        for key in album.get("omit", []):
            fields.pop(key, None)
        items.append(json_object(fields, album.get("key_order", WEIBO_ALBUM_ORDER)))
    return ('{"result":true,"data":{"total":%d,"album_list":[%s]},"code":0}'
            % (len(items), ",".join(items)))


WEIBO_PHOTO_ORDER = ["photo_id", "caption", "original_pic", "pic_type", "pic_name", "pic_host", "created_at",
                     "timestamp"]


def escaped_tags(literal):
    """A JSON literal with "<" and ">" written as \\u escapes, as JSON
    encoders that guard HTML do."""
    return literal.replace("<", "\\u003c").replace(">", "\\u003e")


def weibo_photo_list(user, album, page, count):
    photos = album.get("photo_list", [])
    page, _ = cycled_page(album, page)
    chunk = photos[(page - 1) * count:page * count]
    items = []
    for i, photo in enumerate(chunk):
        caption = json_text(photo.get("caption", ""))
        if album.get("escape_tags"):
            caption = escaped_tags(caption)
        fields = {
            "photo_id": json_text(photo.get("photo_id", "%s%04d" % (album["album_id"], (page - 1) * count + i))),
            "caption": caption,
            "original_pic": json_text(photo.get("original_pic", "")),
            "pic_type": str(int(photo.get("pic_type", 1))),
            "pic_name": json_text(photo.get("pic_name", "")),
            "pic_host": json_text(photo.get("pic_host", "")),
        }
        # When the photo was posted, where its data says.
        if "created_at" in photo:
            fields["created_at"] = json_text(photo["created_at"])
        if "timestamp" in photo:
            fields["timestamp"] = str(int(photo["timestamp"]))
        items.append(json_object(fields, album.get("photo_key_order", WEIBO_PHOTO_ORDER)))
    return '{"result":true,"data":{"total":%d,"photo_list":[%s]},"code":0}' % (len(photos), ",".join(items))


# ---------------------------------------------------------------------------
# What the Weibo web client reads today (weibo.com/ajax/profile/...): the
# owner's profile, the image wall with its albums, an album's pictures; the
# failures of the old album service; and the login pages a client is sent to.

LOGIN_HOSTS = ("passport.weibo.com", "login.sina.com.cn")
LOGIN_URL = "https://passport.weibo.com/sso/signin?entry=miniblog"
ALBUM_SERVICE_FAULTS = ("502", "login_redirect", "ok_minus_100", "not_json", "empty")


def wall_pid(salt, i):
    """A picture id as Weibo writes them: 32 letters and digits."""
    return hashlib.md5(("%s-%d" % (salt, i)).encode()).hexdigest()


def pid_picture_url(pid):
    """The large picture of a pid, by the web client's rule: host ww when the
    10th character is w, else wx; number 1 + (CRC-32 & 3); gif when the 22nd
    character is g."""
    host = "ww" if len(pid) > 9 and pid[9] == "w" else "wx"
    ext = "gif" if len(pid) > 21 and pid[21] == "g" else "jpg"
    return "https://%s%d.sinaimg.cn/large/%s.%s" % (host, 1 + (zlib.crc32(pid.encode()) & 3), pid, ext)


LIVEPHOTO_CLIP_HOST = "https://us.sinaimg.cn/"
MEDIA_PLAY_PREFIX = "https://video.weibo.com/media/play?livephoto="


def media_play(inner):
    """A Live Photo clip's stable address, as the real wall and the mobile
    site write it: video.weibo.com/media/play with the clip's address
    percent-encoded in "livephoto"."""
    return MEDIA_PLAY_PREFIX + urllib.parse.quote(inner, safe="")


def media_play_inner(address):
    """The clip address a media/play address names, or None."""
    if not isinstance(address, str):
        return None
    parts = urllib.parse.urlsplit(address)
    if parts.hostname != "video.weibo.com" or parts.path != "/media/play":
        return None
    inner = urllib.parse.parse_qs(parts.query).get("livephoto", [""])[0]
    return inner if inner.startswith(("http://", "https://")) else None


def wall_items(wall, salt):
    """Items of the wall or of one of its albums: "pictures" (pids, or
    objects written as they stand, so fields can be missing or odd), then
    "generate" N made-up pids (listed, never served). A Live Photo item
    carries its clip's stable address in "video", as the real wall's do,
    unless it names a "video" of its own, the item says "wall_clip": false
    or the wall says "livephoto_video": false."""
    items = []
    carry = wall.get("livephoto_video", True)
    for entry in wall.get("pictures", []):
        if not isinstance(entry, dict):
            items.append({"pid": entry, "mid": "49%014d" % len(items), "type": "pic"})
            continue
        item = {k: v for k, v in entry.items() if k not in POST_KEYS}
        pid = item.get("pid")
        if (carry and entry.get("wall_clip", True) and item.get("type") == "livephoto" and "video" not in item
                and isinstance(pid, str) and pid.isalnum()):
            item["video"] = media_play(LIVEPHOTO_CLIP_HOST + pid + ".mov")
        items.append(item)
    # "generate_days" D spreads the generated posts evenly over the D days
    # before "generate_newest" (seconds), one picture a post, newest first.
    days, newest = float(wall.get("generate_days", 0)), int(wall.get("generate_newest", 1700000000))
    count = int(wall.get("generate", 0))
    for i in range(count):
        mid = mid_of_time(newest - i * days * 86400 / count, i % 1024) if days else "48%014d" % i
        items.append({"pid": wall_pid(salt, i), "mid": mid, "type": "pic"})
    return items


def mid_of_time(seconds, serial=0):
    """A post id that carries its time, as Weibo's do: the seconds since
    515483463 in the bits above the lowest 22."""
    return str(((int(seconds) - 515483463) << 22) + serial)


def mid_time(mid):
    return (int(mid) >> 22) + 515483463 if str(mid).isdigit() else 0


def created_at(seconds):
    """A post time as Weibo writes it: "Tue Feb 23 12:28:47 +0800 2021"."""
    return time.strftime("%a %b %d %H:%M:%S +0800 %Y", time.gmtime(int(seconds) + 8 * 3600))


def dated_cursor(page):
    """A wall cursor as the real wall writes it after `page`: the id of its
    last post, -1, the day (China time) of its first post, -1."""
    first, last = mid_time(page[0].get("mid", "")), str(page[-1].get("mid", "0"))
    return "%s_-1_%s_-1" % (last, time.strftime("%Y%m%d", time.gmtime(first + 8 * 3600)))


def add_image_wall_pictures(data):
    """Every listed pid of every wall is served at the address its rule
    gives (over https), unless "pictures" names that address already."""
    for user in data.weibo_users:
        wall = user.get("image_wall")
        if not wall:
            continue
        size = int(wall.get("picture_size", 2048))
        wall["_items"] = wall_items(wall, user["uid"])
        for album in wall.get("albums", []):
            album["_items"] = wall_items(album, album.get("containerid", ""))
        for spec in [wall] + wall.get("albums", []):
            add_wall_posts(data, user, spec)
            # The clips the items' stable addresses lead to ("clip_format":
            # "mp4" serves one of that brand).
            for entry, item in zip(spec.get("pictures", []), spec["_items"]):
                inner = media_play_inner(item.get("video"))
                if inner:
                    fmt = entry.get("clip_format", "mov") if isinstance(entry, dict) else "mov"
                    data.pictures.setdefault(inner, {"format": fmt, "size": size * 2})
            for entry in spec.get("pictures", []):
                pid = entry.get("pid") if isinstance(entry, dict) else entry
                if isinstance(pid, str) and pid.isalnum():
                    url = pid_picture_url(pid)
                    fmt = entry.get("format") if isinstance(entry, dict) else None
                    data.pictures.setdefault(url, {"format": fmt or ("gif" if url.endswith(".gif") else "jpeg"),
                                                   "size": size})


def json_answer(value, status=200):
    return Answer(json.dumps(value, ensure_ascii=False, separators=(",", ":")),
                  "application/json; charset=utf-8", status)


def cookie_value(headers, name):
    for pair in (headers.get("Cookie") or "").split(";"):
        key, _, value = pair.strip().partition("=")
        if key == name:
            return value
    return None


def wall_page(spec, cursor, end_cursor):
    """One page from `cursor` (a page number; "" and 0 start) and the next
    cursor: `end_cursor` after the last page. "blank_pages" lists pages
    (1 for the first) that answer an empty list in the middle of the walk,
    the pictures moving on to the pages after; "since_id_loops" makes the
    last page name the second again. A stuck wall
    ("stuck_since_id") answers every cursor with the first page and the same
    next cursor."""
    items, per_page = spec.get("_items", []), max(int(spec.get("per_page", 30)), 1)
    pages = [items[i:i + per_page] for i in range(0, len(items), per_page)] or [[]]
    for blank in sorted(int(n) for n in spec.get("blank_pages", [])):
        pages.insert(blank - 1, [])
    index = int(cursor) if str(cursor).isdigit() else 0
    if spec.get("stuck_since_id", False):
        return pages[0], 1
    # "dated_cursors": cursors in the real wall's form, which name the page
    # they follow.
    dated = spec.get("dated_cursors", False)
    if dated:
        cursors = spec.setdefault("_cursors", {dated_cursor(page): n + 1 for n, page in enumerate(pages) if page})
        index = cursors.get(str(cursor), 0)
    chunk = pages[index] if index < len(pages) else []
    # "since_id_loops": the last page names the second one again.
    end = 1 if spec.get("since_id_loops") else end_cursor
    if index + 1 < len(pages):
        return chunk, (dated_cursor(chunk) if dated and chunk else index + 1)
    return chunk, end


def weibo_ajax(data, path, q, headers):
    if path == "/ajax/statuses/show":
        return weibo_status(data, q("id"), headers)
    if path == "/ajax/statuses/longtext":
        found = data.long_texts.get(q("id"))
        if found is None:
            return json_answer({"ok": 0, "msg": "该微博不存在", "error_code": 20101})
        return json_answer({"ok": 1, "http_code": 200, "data": {"longTextContent": found}})
    user = None
    for candidate in data.weibo_users:
        if ((q("uid") and str(candidate["uid"]) == q("uid")) or (q("custom") and candidate.get("custom") == q("custom"))
                or (q("screen_name") and candidate.get("nickname") == q("screen_name"))):
            user = candidate
            break
    if user is None:
        return json_answer({"ok": 0, "errno": "20003", "msg": "用户不存在"})
    if not may_read(data, user, headers):
        return json_answer({"ok": -100, "url": LOGIN_URL})
    refused = xsrf_refusal(user, headers) or pushback(data, user, headers)
    if refused is not None:
        return refused
    # The web client echoes the XSRF-TOKEN cookie in a header; without it
    # the endpoints refuse.
    token = cookie_value(headers, "XSRF-TOKEN")
    if token is not None and headers.get("X-XSRF-TOKEN") != token:
        return json_answer({"ok": 0, "errno": "100006", "msg": "xsrf token"}, 403)
    uid = str(user["uid"])
    wall = user.get("image_wall", {})
    if path == "/ajax/profile/info":
        return json_answer({"ok": 1, "data": {"user": {"id": int(uid) if uid.isdigit() else uid, "idstr": uid,
                                                       "screen_name": user.get("nickname", "")}}})
    if path == "/ajax/profile/getImageWall":
        cursor = q("sinceid", "0")
        chunk, next_cursor = wall_page(wall, cursor, 0)
        answer = {"list": chunk, "since_id": next_cursor}
        if cursor in ("", "0"):
            answer["album_list"] = [{key: album[key] for key in ("pic_title", "containerid", "pic") if key in album}
                                    for album in wall.get("albums", [])]
        return json_answer({"ok": 1, "data": answer})
    if path == "/ajax/statuses/mymblog":
        per_page = int(user.get("posts_per_page", 20))
        page = int(q("page", "1")) if q("page", "1").isdigit() else 1
        posts = data.user_posts.get(uid, [])
        chunk = posts[(page - 1) * per_page:page * per_page] if page > 0 else []
        return json_answer({"ok": 1, "data": {"since_id": "", "list": chunk, "status_visible": 0,
                                              "bottom_tips_visible": False, "bottom_tips_text": "",
                                              "topicList": [], "total": len(posts)}})
    if path == "/ajax/profile/getAlbumDetail":
        album = data.find(wall.get("albums", []), "containerid", q("containerid"))
        if album is None:
            return json_answer({"ok": 0, "errno": "100001", "msg": "相册不存在"})
        # Album cursors are text, as "<offset>|<n>"; "0" after the last page.
        cursor = q("since_id", "0").partition("|")[0]
        chunk, next_cursor = wall_page(album, cursor, 0)
        return json_answer({"ok": 1, "data": {"list": chunk,
                                              "since_id": "%s|%d" % (next_cursor, len(chunk)) if next_cursor else "0"}})
    return json_answer({"ok": 0, "errno": "10001", "msg": "unknown endpoint"}, 404)


def album_service_fault(user):
    """The ways the old album service fails today ("album_service")."""
    fault = user.get("album_service")
    if fault == "502":
        return Answer("<html><body>502 Bad Gateway</body></html>", status=502)
    if fault == "login_redirect":
        return Answer("", status=302, headers={"Location": LOGIN_URL})
    if fault == "ok_minus_100":
        return json_answer({"ok": -100, "url": LOGIN_URL})
    if fault == "not_json":
        return Answer("<html><body>系统繁忙，请稍后再试</body></html>")
    if fault == "empty":
        return Answer('{"result":true,"data":{"total":0,"album_list":[]},"code":0}', "application/json; charset=utf-8")
    return None


# ---------------------------------------------------------------------------
# Weibo today, for guests and for what the image wall stands for: the
# passport's visitor cookies, the home page that renews XSRF-TOKEN, the
# mobile hosts, and the posts (ajax/statuses/show) behind wall items that
# are not plain pictures.

# Keys of a wall item that shape its post or picture and are not listed on
# the wall.
POST_KEYS = ("pics", "post", "clip", "mix", "format", "wall_clip", "clip_format", "listed", "followers_only",
             "clip_lifetime")
POST_TIME = "Tue Feb 23 12:28:47 +0800 2021"
FOLLOWERS_ONLY = {"ok": 0, "errno": "20112", "msg": "仅粉丝可见"}
VISITOR_PAGE = "https://passport.weibo.com/visitor/visitor?entry=miniblog&a=enter&url="


def clip_url(pid, kind):
    """The address a clip is served at; a post names it signed."""
    if kind == "livephoto":
        return "https://livephoto.us.sinaimg.cn/%s.mov" % pid
    return "https://f.video.weibocdn.com/o0/%s.mp4?label=gif_mp4" % pid


# Where a post's clip addresses name their expiry: statuses/show fills in
# the time when it answers (stamp_expiry).
EXPIRES_TOKEN = "@EXPIRES@"


def signed(url, expires=EXPIRES_TOKEN):
    """`url` signed as Weibo's clip hosts sign theirs, to expire at
    `expires` (seconds since 1970)."""
    return "%s%sExpires=%s&ssig=fake%%2Bsig&KID=unistore,video" % (url, "&" if "?" in url else "?", expires)


def unsigned_clip(data, url):
    """A signed clip address stands for the clip it signs: (the address
    without its Expires, ssig and KID fields, its Expires) for one the data
    serves, else (url, None)."""
    base, _, query = url.partition("?")
    fields = query.split("&") if query else []
    expires = [f[len("Expires="):] for f in fields if f.startswith("Expires=")]
    if not expires:
        return url, None
    kept = [f for f in fields if f.split("=", 1)[0] not in ("Expires", "ssig", "KID")]
    plain = base + ("?" + "&".join(kept) if kept else "")
    if same_data_url(data, plain) not in data.pictures:
        return url, None
    return plain, int(expires[0]) if expires[0].lstrip("-").isdigit() else 0


def stamp_expiry(data, mid, value):
    """The answer `value` of post `mid` with its clip addresses signed to
    live the post's clip lifetime from now: the n-th answer of the post
    takes the n-th lifetime of a list, the last one repeating."""
    lifetimes = data.clip_lifetimes.get(mid, data.clip_lifetime)
    lifetimes = lifetimes if isinstance(lifetimes, list) and lifetimes else [lifetimes]
    with data.lock:
        reads = data.post_reads.get(mid, 0)
        data.post_reads[mid] = reads + 1
    expires = str(int(time.time()) + int(lifetimes[min(reads, len(lifetimes) - 1)]))

    def stamp(v):
        if isinstance(v, str):
            return v.replace(EXPIRES_TOKEN, expires)
        if isinstance(v, list):
            return [stamp(x) for x in v]
        if isinstance(v, dict):
            return {k: stamp(x) for k, x in v.items()}
        return v
    return stamp(value)


def post_picture(data, pid, kind, size, clip=None):
    """One entry of pic_infos; its still and clip are served, the clip
    named by its signed address unless `clip` gives another."""
    still = pid_picture_url(pid)
    data.pictures.setdefault(still, {"format": "gif" if still.endswith(".gif") else "jpeg", "size": size})
    info = {"pic_id": pid, "type": kind, "largest": {"url": still, "width": 1080, "height": 1440},
            "original": {"url": still}}
    if kind in ("livephoto", "gif"):
        served = clip if clip is not None else clip_url(pid, kind)
        info["video"] = clip if clip is not None else signed(served)
        if served.startswith("http"):
            data.pictures.setdefault(served, {"format": "mov" if kind == "livephoto" else "mp4", "size": size * 2})
    return info


def add_wall_posts(data, user, spec):
    """The post of every wall item that is not a plain picture: a Live
    Photo or gif item gets pic_infos of every picture the wall lists under
    its mid, with their clips ("clip" replaces that item's clip address); a
    mid-only item gets the pictures of "pics" (pids or
    {"pid", "type"}), written as mix_media_info when "mix" is true, or a
    video when it names none; a "video" item gets page_info with a
    playback list (only the best quality is served). "post" is a literal
    answer instead (an error, say)."""
    size = int(spec.get("picture_size", 2048))
    for entry in spec.get("pictures", []):
        if not isinstance(entry, dict) or "mid" not in entry:
            continue
        mid, kind, pid = str(entry["mid"]), entry.get("type", ""), entry.get("pid")
        if mid in data.posts:  # the first item of a post shapes it
            continue
        if "clip_lifetime" in entry:
            data.clip_lifetimes[mid] = entry["clip_lifetime"]
        if entry.get("followers_only"):
            data.followers_only.add(mid)
        if "post" in entry:
            data.posts[mid] = (user, entry["post"])
            continue
        if kind == "pic" and pid:
            continue
        post = {"ok": 1, "id": int(mid) if mid.isdigit() else mid, "mid": mid, "created_at": POST_TIME,
                "user": {"idstr": str(user["uid"])}, "pic_ids": [], "pic_num": 0}
        # A Live Photo's or gif's post holds every picture the wall lists
        # under its mid, in the wall's order.
        pics = []
        if pid and kind in ("livephoto", "gif"):
            pics = [(other["pid"], other.get("type", "pic")) for other in spec.get("pictures", [])
                    if isinstance(other, dict) and str(other.get("mid")) == mid and isinstance(other.get("pid"), str)
                    and other.get("type", "pic") in ("pic", "livephoto", "gif")]
        for one in entry.get("pics", []):
            pics.append((one, "pic") if isinstance(one, str) else (one["pid"], one.get("type", "pic")))
        if pics and entry.get("mix"):
            post["mix_media_info"] = {"items": [{"type": k, "id": p, "data": post_picture(data, p, k, size)}
                                                for p, k in pics]}
        elif pics:
            # "listed": N lists only the first N pictures, pic_num saying
            # how many the post holds; the mobile site's answer has them all.
            shown = pics[:int(entry["listed"])] if "listed" in entry else pics
            post["pic_ids"] = [p for p, _ in shown]
            post["pic_infos"] = {p: post_picture(data, p, k, size, entry.get("clip") if p == pid else None)
                                 for p, k in shown}
            post["pic_num"] = len(pics)
            data.post_pictures[mid] = [(p, k) for p, k in pics]
            for p, k in pics[len(shown):]:
                post_picture(data, p, k, size)
        else:
            best = "https://f.video.weibocdn.com/o0/%s_720.mp4?label=mp4_720p" % mid
            data.pictures.setdefault(best, {"format": "mp4", "size": size * 3})
            post["page_info"] = {"object_type": "video", "media_info": {
                "stream_url": signed("https://f.video.weibocdn.com/o0/%s_sd.mp4" % mid),
                "playback_list": [
                    {"meta": {"label": "mp4_480p", "quality_index": 1},
                     "play_info": {"url": signed("https://f.video.weibocdn.com/o0/%s_480.mp4?label=mp4_480p" % mid)}},
                    {"meta": {"label": "mp4_720p", "quality_index": 3}, "play_info": {"url": signed(best)}}]}}
        data.posts[mid] = (user, post)


def mymblog_post(data, user, mid, pics, size, spec=None):
    """One post of a user's list as weibo.com/ajax/statuses/mymblog writes
    it: ids, created_at, text_raw and text, pic_ids and pic_infos; a text
    longer than 140 characters is cut, isLongText set and the whole kept for
    ajax/statuses/longtext."""
    spec = spec or {}
    text = spec.get("text", "")
    post = {"visible": {"type": 0, "list_id": 0}, "created_at": created_at(mid_time(mid)), "id": int(mid),
            "idstr": mid, "mid": mid, "mblogid": "N" + mid[-8:], "user": {
                "id": int(user["uid"]) if str(user["uid"]).isdigit() else user["uid"], "idstr": str(user["uid"]),
                "screen_name": user.get("nickname", "")},
            "isLongText": len(text) > 140, "text_raw": text[:140] + ("\u200b" if len(text) > 140 else ""),
            "text": attr(text[:140]), "pic_ids": [p for p, _ in pics], "pic_num": len(pics),
            "pic_infos": {p: post_picture(data, p, k, size) for p, k in pics}}
    if len(text) > 140:
        data.long_texts[mid] = text
    if spec.get("pinned"):
        post["isTop"] = 1
        post["mblogtype"] = 2
    return post


def add_user_posts(data, user):
    """The posts of a user's list (mymblog), newest first with a pinned
    one ahead: one post per mid of its image wall, holding the pictures the
    wall lists under it, and the user's "posts" (each: `mid` or `time`,
    `text`, `pics`, `pinned`, and for a repost `repost`: the reposted post's
    `mid` or `time`, `author`, `author_id`, `text`, `pics`)."""
    wall = user.get("image_wall", {})
    size = int(wall.get("picture_size", 2048))
    by_mid = {}
    for item in wall.get("_items", []):
        mid, pid = str(item.get("mid", "")), item.get("pid")
        if mid.isdigit() and mid_time(mid) > 1249084800 and isinstance(pid, str) and pid.isalnum():
            by_mid.setdefault(mid, []).append((pid, item.get("type", "pic") if item.get("type") in
                                               ("livephoto", "gif") else "pic"))
    posts = [mymblog_post(data, user, mid, pics, size) for mid, pics in by_mid.items()]
    for n, spec in enumerate(user.get("posts", [])):
        mid = str(spec.get("mid") or mid_of_time(spec["time"], 900 + n))
        post = mymblog_post(data, user, mid, [(p, "pic") for p in spec.get("pics", [])], size, spec)
        repost = spec.get("repost")
        if repost:
            original = str(repost.get("mid") or mid_of_time(repost["time"], 950 + n))
            author = {"uid": repost.get("author_id", "1900000001"), "nickname": repost.get("author", "")}
            post["retweeted_status"] = mymblog_post(data, author, original,
                                                    [(p, "pic") for p in repost.get("pics", [])], size, repost)
        posts.append(post)
    posts.sort(key=lambda post: (-int(post.get("isTop", 0)), -int(post["mid"])))
    data.user_posts[str(user["uid"])] = posts


def weibo_status(data, mid, headers):
    found = data.posts.get(mid)
    if found is None:
        return json_answer({"ok": 0, "msg": "该微博不存在", "error_code": 20101})
    user, post = found
    if not may_read(data, user, headers):
        return json_answer({"ok": -100, "url": LOGIN_URL})
    blocked = pushback(data, user, headers)
    if blocked:
        return blocked
    if mid in data.followers_only and not has_login(data, headers.get("Cookie")):
        return json_answer(FOLLOWERS_ONLY)
    return json_answer(stamp_expiry(data, mid, post))


def mobile_status(data, mid):
    """m.weibo.cn/statuses/show?id=<mid>: the post as the mobile site gives
    it, {"ok":1,"data":{...}} with every picture in "pics" (a Live Photo's
    clip as "videoSrc", its stable address); an error post answers as on
    weibo.com. Public posts only: it asks for no cookie."""
    found = data.posts.get(mid)
    if found is None:
        return json_answer({"ok": 0, "msg": "该微博不存在", "error_code": 20101})
    _, post = found
    if post.get("ok") != 1:
        return json_answer(post)
    if mid in data.followers_only:
        return json_answer(FOLLOWERS_ONLY)
    pics = []
    for pid, kind in data.post_pictures.get(mid, []):
        pic = {"pid": pid, "url": "https://wx1.sinaimg.cn/orj360/%s.jpg" % pid, "size": "orj360",
               "large": {"size": "large", "url": pid_picture_url(pid)}}
        if kind == "livephoto":
            inner = LIVEPHOTO_CLIP_HOST + pid + ".mov"
            data.pictures.setdefault(inner, {"format": "mov", "size": 4096})
            pic.update({"type": "livephotos", "videoSrc": media_play(inner)})
        pics.append(pic)
    return json_answer({"ok": 1, "data": {"id": post["mid"], "mid": post["mid"], "created_at": post["created_at"],
                                          "pic_num": len(pics), "pic_ids": [p["pid"] for p in pics], "pics": pics}})


def media_play_answer(data, q):
    """video.weibo.com/media/play?livephoto=<clip>: a redirect to the clip's
    address freshly signed (Expires an hour ahead), for a clip it serves."""
    inner = q("livephoto")
    if inner not in data.pictures:
        return Answer(*NOT_FOUND)
    return Answer("", status=302, headers={"Location": signed(inner, int(time.time()) + 3600)})


def visitor_sub(data, headers):
    """A visitor's SUB the passport gave, which has not run out: with
    "visitor_requests" N it reads N answers, then is turned away as a
    visitor whose cookies ran out is."""
    sub = cookie_value(headers, "SUB")
    if sub is None or sub not in data.visitor_subs:
        return False
    if not data.visitor_requests:
        return True
    with data.lock:
        used = data.visitor_uses.get(sub, 0)
        data.visitor_uses[sub] = used + 1
    return used < data.visitor_requests


def may_read(data, user, headers):
    """The web client's endpoints: a login reads everyone ("needs_login"
    false: anyone); visitor cookies read a "guest" user."""
    if has_login(data, headers.get("Cookie")):
        return True
    if user.get("guest"):
        return visitor_sub(data, headers)
    return not user.get("needs_login", True)


def xsrf_refusal(user, headers):
    """"xsrf_required": without an XSRF-TOKEN cookie the endpoints refuse
    with an ok below 0; the home page sets one."""
    if user.get("xsrf_required") and cookie_value(headers, "XSRF-TOKEN") is None:
        return json_answer({"ok": -1, "msg": "xsrf token missing", "errno": "100006"})
    return None


def passport_visitor(data, path, q):
    """genvisitor2 hands out a visitor (JSONP); the crossdomain step sets
    its SUB and SUBP on .weibo.com and redirects. The data's "passport":
    "refuse" (retcode not 20000000) or "not_json"."""
    mode = data.raw.get("passport", "ok")
    if path == "/visitor/genvisitor2":
        wrap = "window.visitor_gray_callback && visitor_gray_callback(%s);"
        if mode == "not_json":
            return Answer(wrap % "<html>系统繁忙</html>", "application/javascript; charset=utf-8")
        if mode == "refuse":
            return Answer(wrap % json.dumps({"retcode": 50111, "msg": "访客系统繁忙"}),
                          "application/javascript; charset=utf-8")
        with data.lock:
            token = "%08x" % (len(data.visitor_subs) + 1)
            data.visitor_subs.add("_2AkMvisitor" + token)
            data.visitor_tids["_2AkMvisitor" + token] = "tid" + token
        answer = {"retcode": 20000000, "msg": "succ", "data": {"tid": "tid" + token, "new_tid": True,
                                                               "confidence": 100, "sub": "_2AkMvisitor" + token,
                                                               "subp": "0033WrSXqPxfM72-Ws9jqgMF55529P9D9W" + token}}
        return Answer(wrap % json.dumps(answer), "application/javascript; charset=utf-8")
    if path == "/visitor/visitor" and q("a") == "crossdomain":
        # As today's visitor page asks it: the visitor's id (t) beside its
        # SUB and SUBP, where it returns to (url) and the page's version (ver).
        cookies = []
        if (q("s") in data.visitor_subs and q("t") == data.visitor_tids.get(q("s")) and q("url").startswith("https://")
                and q("ver")):
            cookies = ["SUB=%s; expires=Thu, 01-Jan-2099 00:00:00 GMT; path=/; domain=.weibo.com; secure; httponly"
                       % q("s"), "SUBP=%s; expires=Thu, 01-Jan-2099 00:00:00 GMT; path=/; domain=.weibo.com" % q("sp")]
        return Answer("", status=302, headers={"Location": "https://weibo.com/", "Set-Cookie": cookies})
    return None


# Weibo pushing back on a user's /ajax endpoints and posts:
# - "block" (432 or 418): the session that asks first (its XSRF-TOKEN and,
#   for a visitor, its SUB) is answered so until it is renewed: a fresh
#   XSRF-TOKEN from https://weibo.com/ and, for a visitor, a fresh visitor
#   SUB; waiting alone does not help.
# - "verify" ("redirect" or "ok_minus_100"): after the first "verify_after"
#   answers, a request without the cookie of a passed verification
#   ("verified_cookie", default VF=passed) is sent to "verify_url" (default
#   VERIFY_URL), by a 302 or as {"ok":-100,"url":...}. The page at
#   VERIFY_URL sets that cookie by script, as a person passing it in a
#   browser would; a client that only follows the redirect does not get it.
VERIFY_URL = "https://security.weibo.com/captcha/verify?entry=miniblog"


def session_key(data, headers):
    sub = cookie_value(headers, "SUB")
    return cookie_value(headers, "XSRF-TOKEN"), (sub if sub in data.visitor_subs else None)


def pushback(data, user, headers):
    """The block or the demand to verify of `user`, or None."""
    status = user.get("block")
    if status:
        xsrf, sub = session_key(data, headers)
        with data.lock:
            blocked = user.setdefault("_blocked", (xsrf, sub))
        if xsrf == blocked[0] or (sub is not None and sub == blocked[1]):
            return Answer("<html><body>%d</body></html>" % int(status), status=int(status))
    mode = user.get("verify")
    if mode and data.verified_cookie not in [p.strip() for p in (headers.get("Cookie") or "").split(";")]:
        with data.lock:
            served = user.get("_served", 0)
            user["_served"] = served + 1
        if served >= int(user.get("verify_after", 0)):
            target = user.get("verify_url", VERIFY_URL)
            if mode == "redirect":
                return Answer("", status=302, headers={"Location": target})
            return json_answer({"ok": -100, "url": target})
    return None


def verify_page(data):
    """The page a person verifies at: passing sets the cookie by script."""
    script = 'document.cookie = %s;' % json.dumps(data.verified_cookie + "; path=/; domain=.weibo.com; max-age=86400")
    return Answer('<!DOCTYPE html><html><head><meta charset="utf-8"><title>loading</title></head><body>'
                  '请完成验证。<script>%s\ndocument.title = "done";</script></body></html>\n' % script,
                  headers={"Cache-Control": "no-store"})


def weibo_today_page(data, host, path, q, headers):
    """The pages of this section that the route does not know otherwise, or
    None."""
    if host == "passport.weibo.com" and path.startswith("/visitor/"):
        return passport_visitor(data, path, q)
    if host == "security.weibo.com" and path == urllib.parse.urlsplit(VERIFY_URL).path:
        return verify_page(data)
    if host in (WEIBO_HOST, "www." + WEIBO_HOST) and path == "/":
        # The home page renews XSRF-TOKEN, for anyone; without a login it
        # sends the visitor through the passport, which renews an ended
        # login from ALF (weibo_passport_page).
        with data.lock:
            data.xsrf_serial = getattr(data, "xsrf_serial", 0) + 1
            token = "xsrf%d" % data.xsrf_serial
        answer = (Answer("<!DOCTYPE html><html><body>微博</body></html>")
                  if has_login(data, headers.get("Cookie")) else weibo_passport_page(data, WEIBO_HOST, path, {}, headers))
        answer.headers["Set-Cookie"] = "XSRF-TOKEN=%s; path=/; domain=weibo.com; secure" % token
        return answer
    if host == "m.weibo.cn" and path == "/statuses/show":
        return mobile_status(data, q("id"))
    if host == "video.weibo.com" and path == "/media/play":
        return media_play_answer(data, q)
    if host in ("m.weibo.cn", "weibo.cn", "www.weibo.cn"):
        # A script shell; its first "id" is not the user's.
        return Answer('<!DOCTYPE html><html><head><script>var config = {"id":1,"name":"m"};</script></head>'
                      '<body><div id="app"></div></body></html>')
    return None


def guest_user_page(data, user, headers):
    """A "guest" user's page: a visitor without cookies is sent to the
    passport; with them (or a login) the page is a script shell that names
    no owner, as today's pages are."""
    if not may_read(data, user, headers):
        target = urllib.parse.quote("https://weibo.com/u/%s" % user["uid"], safe="")
        return Answer("", status=302, headers={"Location": VISITOR_PAGE + target})
    return Answer('<!DOCTYPE html><html><head><meta charset="utf-8"><title>微博</title></head>'
                  '<body><div id="app"></div></body></html>')


# ---------------------------------------------------------------------------
# Pictures: real JPEG, PNG and GIF files of a chosen size. Each is a tiny
# valid image whose filler lives where decoders skip it (a JPEG comment
# segment, a PNG text chunk, a GIF comment extension).


def jpeg_bytes(size):
    # An 8x8 grey baseline JPEG: one quantisation table, one-code Huffman
    # tables and a single block holding DC 0 and end-of-block.
    dqt = b"\xff\xdb" + struct.pack(">H", 67) + b"\x00" + b"\x01" * 64
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 8, 8, 1) + b"\x01\x11\x00"
    one_code = bytes([1] + [0] * 15) + b"\x00"
    dht = (b"\xff\xc4" + struct.pack(">H", 2 + 17 + 1) + b"\x00" + one_code
           + b"\xff\xc4" + struct.pack(">H", 2 + 17 + 1) + b"\x10" + one_code)
    sos = b"\xff\xda" + struct.pack(">HB", 8, 1) + b"\x01\x00\x00\x3f\x00" + b"\x3f"
    head, tail = b"\xff\xd8", dqt + sof + dht + sos + b"\xff\xd9"
    filler = b""
    need = size - len(head) - len(tail)
    while need >= 4:
        data = min(need - 4, 65533)
        if need - 4 - data in (1, 2, 3):  # leave room for one more whole segment
            data -= 4
        filler += b"\xff\xfe" + struct.pack(">H", data + 2) + b"J" * data
        need -= data + 4
    return head + filler + tail


def webp_bytes(size):
    """A RIFF/WEBP container of `size` bytes (a lossless 1x1 frame, then an
    unknown chunk as filler)."""
    frame = b"VP8L" + struct.pack("<I", 5) + b"\x2f\x00\x00\x00\x00" + b"\x00"
    need = max(size - 12 - len(frame) - 8, 0)
    body = b"WEBP" + frame + b"FILL" + struct.pack("<I", need) + b"F" * need
    return b"RIFF" + struct.pack("<I", len(body)) + body


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)


def png_bytes(size):
    head = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(b"\x00\x80")))
    tail = png_chunk(b"IEND", b"")
    need = size - len(head) - len(tail) - 12
    filler = png_chunk(b"tEXt", b"c\x00" + b"P" * (need - 2)) if need >= 2 else b""
    return head + filler + tail


def gif_bytes(size):
    head = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
    tail = b"\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b"
    need = size - len(head) - len(tail)
    filler = b""
    if need >= 5:
        blocks = -(-(need - 3) // 256)
        data = need - 3 - blocks
        filler = b"\x21\xfe"
        while data > 0:
            n = min(255, data - (blocks - 1))
            filler += bytes([n]) + b"G" * n
            data -= n
            blocks -= 1
        filler += b"\x00"
    return head + filler + tail


def clip_bytes(brand):
    """A Live Photo clip (QuickTime) or a video (MP4) of `size` bytes: an
    ftyp box, then filler in an mdat box."""
    def make(size):
        ftyp = struct.pack(">I", 20) + b"ftyp" + brand + b"\x00\x00\x00\x00" + brand
        filler = max(size - len(ftyp) - 8, 0)
        return ftyp + struct.pack(">I", filler + 8) + b"mdat" + b"\x00" * filler
    return make


PICTURE_MAKERS = {"jpeg": jpeg_bytes, "png": png_bytes, "gif": gif_bytes, "webp": webp_bytes,
                  "mov": clip_bytes(b"qt  "), "mp4": clip_bytes(b"isom")}
PICTURE_TYPES = {"jpeg": "image/jpeg", "png": "image/png", "gif": "image/gif", "webp": "image/webp",
                 "mov": "video/quicktime", "mp4": "video/mp4"}


def picture_body(data, spec):
    if "drawn" in spec:
        return drawn_picture(data, spec)
    key = ("picture", spec.get("format", "jpeg"), int(spec.get("size", 2048)))
    with data.lock:
        body = data.cache.get(key)
    if body is None:
        body = PICTURE_MAKERS[key[1]](key[2])
        with data.lock:
            data.cache[key] = body
    return body


# Pictures to look at: a PNG of one colour per address with a number drawn
# on it, for covers in the preview and for the demo's albums.

DIGIT_FONT = {  # 3 x 5 cells per digit, rows top down
    "0": ["111", "101", "101", "101", "111"], "1": ["010", "110", "010", "010", "111"],
    "2": ["111", "001", "111", "100", "111"], "3": ["111", "001", "111", "001", "111"],
    "4": ["101", "101", "111", "001", "001"], "5": ["111", "100", "111", "001", "111"],
    "6": ["111", "100", "111", "101", "111"], "7": ["111", "001", "001", "001", "001"],
    "8": ["111", "101", "111", "101", "111"], "9": ["111", "101", "111", "001", "111"],
}


def drawn_png(label, colour, width=240, height=180):
    digits = [d for d in str(label) if d in DIGIT_FONT][:4]
    cell = max(1, min(height // 8, width // (4 * len(digits) + 1) if digits else 1))
    text_w, text_h = (4 * len(digits) - 1) * cell, 5 * cell
    left, top = (width - text_w) // 2, (height - text_h) // 2
    background, ink = bytes(colour), b"\xff\xff\xff"
    rows = []
    for y in range(height):
        row = bytearray(background * width)
        ty = (y - top) // cell if y >= top else -1
        if 0 <= ty < 5:
            for i, digit in enumerate(digits):
                for tx, bit in enumerate(DIGIT_FONT[digit][ty]):
                    if bit == "1":
                        x0 = left + (4 * i + tx) * cell
                        row[3 * x0:3 * (x0 + cell)] = ink * cell
        rows.append(b"\x00" + bytes(row))
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + png_chunk(b"IEND", b""))


def drawn_picture(data, spec):
    """`drawn`: the number drawn; the colour comes from `colour` ([r, g, b])
    or from the number; `size` pads the file (a text chunk) up to that many
    bytes."""
    label = str(spec["drawn"])
    key = ("drawn", label, tuple(spec.get("colour", ())), int(spec.get("size", 0)))
    with data.lock:
        body = data.cache.get(key)
    if body is None:
        hue = (int(label) * 137 % 360) / 360.0 if label.isdigit() else zlib.crc32(label.encode()) % 360 / 360.0
        colour = spec.get("colour") or [int(c * 255) for c in colorsys.hsv_to_rgb(hue, 0.55, 0.85)]
        body = drawn_png(label, colour)
        need = int(spec.get("size", 0)) - len(body) - 12
        if need >= 2:
            body = body[:-12] + png_chunk(b"tEXt", b"c\x00" + b"P" * (need - 2)) + body[-12:]
        with data.lock:
            data.cache[key] = body
    return body


def add_generated_pictures(data):
    """Albums with `generate_photos` N get N drawn pictures (Sina photo
    albums their pages, Weibo albums their photo_list), blog articles with
    `generate_pictures` N as many pictures in their text; with `drawn_covers`
    every cover address the lists give is served as a drawn picture numbered
    by the album's place."""
    def serve(url, number, size=0):
        spec = {"format": "png", "drawn": str(number)}
        if size:
            spec["size"] = size
        data.pictures[url] = spec

    covers = bool(data.raw.get("drawn_covers"))
    for user in data.sina_photo_users:
        for index, album in enumerate(user.get("albums", [])):
            count = int(album.get("generate_photos", 0))
            if count:
                album["photos"] = []
                for i in range(count):
                    name = "%s_%s_%d.png" % (user["uid"], album.get("ctg_id", index + 1), i + 1)
                    album["photos"].append({"src": "http://static.photo.sina.com.cn/small/" + name,
                                            "title": "%s %d" % (album.get("name", ""), i + 1)})
                    serve("http://static.photo.sina.com.cn/orignal/" + name, i + 1, album.get("picture_size", 0))
                album.setdefault("pic_cnt", count)
            if covers:
                serve(album.get("cover", "http://static.photo.sina.com.cn/orignal/cover%d.jpg" % index), index + 1)
    for blog in data.sina_blogs:
        for index, article in enumerate(blog.get("articles", [])):
            for i in range(int(article.get("generate_pictures", 0))):
                url = "http://s%d.sinaimg.cn/mw690/%s_%d.png" % (1 + i % 4, article["id"], i + 1)
                article.setdefault("pictures", []).append(url)
                # "<article><picture>": each article's first picture (its cover) differs.
                serve(url.replace("/mw690/", "/orignal/"), "%d%d" % (index + 1, i + 1))
    for user in data.weibo_users:
        for index, album in enumerate(user.get("albums", [])):
            count = int(album.get("generate_photos", 0))
            if count:
                album["photo_list"] = []
                for i in range(count):
                    url = "http://ww%d.sinaimg.cn/large/%s_%d.png" % (1 + i % 4, album["album_id"], i + 1)
                    album["photo_list"].append({"caption": "%s %d" % (album.get("caption", ""), i + 1),
                                                "original_pic": url})
                    serve(url, i + 1)
            if covers and album.get("cover_pic"):
                serve(album["cover_pic"], index + 1)
        if covers:
            for index, album in enumerate(user.get("image_wall", {}).get("albums", [])):
                if album.get("pic"):
                    serve(pid_picture_url(album["pic"]), index + 1)


# ---------------------------------------------------------------------------
# Routing


class Answer:
    def __init__(self, body, content_type="text/html; charset=utf-8", status=200, headers=None):
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.content_type = content_type
        self.status = status
        self.headers = headers or {}


NOT_FOUND = ("<html><body>404 Not Found</body></html>", "text/html; charset=utf-8", 404)


def has_login(data, cookie_header):
    if cookie_header is None:
        return False
    pairs = [p.strip() for p in cookie_header.split(";")]
    return data.login_cookie in pairs or any(p in data.renewed_logins for p in pairs)


def same_data_url(data, url):
    """The same data over https as over http: an https address the data
    does not name itself stands for its http twin."""
    if url.startswith("https://") and url not in data.pages and url not in data.pictures:
        plain = "http://" + url[len("https://"):]
        if plain in data.pages or plain in data.pictures:
            return plain
    return url


def from_sina_page(referer):
    """The picture hosts serve pages of the Sina and Weibo sites only."""
    host = (urllib.parse.urlsplit(referer or "").hostname or "").lower()
    return any(host == site or host.endswith("." + site) for site in ("weibo.com", "sina.com.cn"))


def route(data, url, headers):
    parts = urllib.parse.urlsplit(url)
    host = (parts.hostname or "").lower()
    path = parts.path or "/"
    query = urllib.parse.parse_qs(parts.query, keep_blank_values=True)

    def q(name, default=""):
        return query.get(name, [default])[0]

    if url in data.pages:
        return page_answer(data, data.pages[url])
    if url in data.pictures:
        spec = data.pictures[url]
        fmt = spec.get("format", "jpeg")
        return Answer(picture_body(data, spec), spec.get("content_type", PICTURE_TYPES.get(fmt, "image/jpeg")))

    if host == SINA_PHOTO_HOST:
        if path == "/services/ctg_list_ctg.php":
            user = data.find(data.sina_photo_users, "uid", q("uid"))
            if user is None:
                return Answer('{"code":"A00003","data":{"total":0,"list":[]}}', "application/json; charset=utf-8")
            return Answer(sina_category_list(user), "application/json; charset=utf-8")
        for user in data.sina_photo_users:
            user_paths = [user.get("path", "/u/%s" % user["uid"])] + user.get("aliases", [])
            if path in user_paths:
                return Answer(sina_photo_user_page(user))
            for index, album in enumerate(user.get("albums", [])):
                prefix = urllib.parse.urlsplit(sina_album_url(user, album, index)).path + "/page"
                if path.startswith(prefix) and path[len(prefix):].isdigit():
                    return Answer(sina_album_page(user, album, int(path[len(prefix):])))
        return Answer(*NOT_FOUND)

    if host == SINA_BLOG_HOST:
        gbk = "text/html; charset=GBK"
        if path.startswith("/s/articlelist_") and path.endswith(".html"):
            pieces = path[len("/s/articlelist_"):-len(".html")].split("_")
            blog = data.find(data.sina_blogs, "uid", pieces[0])
            if blog is not None and len(pieces) == 3 and pieces[2].isdigit():
                return Answer(blog_list_page(blog, int(pieces[2])).encode("gbk", "replace"), gbk)
        if path.startswith("/s/blog_") and path.endswith(".html"):
            article_id = path[len("/s/blog_"):-len(".html")]
            for blog in data.sina_blogs:
                article = data.find(blog.get("articles", []), "id", article_id)
                if article is not None:
                    return Answer(blog_article_page(blog, article).encode("gbk", "replace"), gbk)
        return Answer(*NOT_FOUND)

    if host in (WEIBO_HOST, "www." + WEIBO_HOST) and path.startswith("/ajax/"):
        return weibo_ajax(data, path, q, headers)
    today = weibo_today_page(data, host, path, q, headers)
    if today is not None:
        return today
    if host == "passport.weibo.com" and path.startswith("/fake/") or host == WEIBO_HOST and path in ("/", "/login.php"):
        return weibo_passport_page(data, host, path, query, headers)
    if host in LOGIN_HOSTS:
        return Answer(weibo_login_page())

    if host in (WEIBO_HOST, "www." + WEIBO_HOST):
        cookie_page = weibo_cookie_page(data, path, query)
        if cookie_page is not None:
            return cookie_page
        for user in data.weibo_users:
            user_paths = [user.get("path", "/u/%s" % user["uid"])] + user.get("aliases", [])
            if path in user_paths:
                if user.get("guest"):
                    return guest_user_page(data, user, headers)
                if user.get("needs_login", True) and not has_login(data, headers.get("Cookie")):
                    return Answer(weibo_login_page())
                return Answer(weibo_user_page(user))
        return Answer(*NOT_FOUND)

    if host == WEIBO_PHOTO_HOST:
        user = data.find(data.weibo_users, "uid", q("uid"))
        if path == "/albums/get_all":
            fault = album_service_fault(user) if user is not None else None
            if fault is not None:
                return fault
            if user is None or (user.get("needs_login", True) and not has_login(data, headers.get("Cookie"))):
                return Answer('{"result":false,"code":"A00004","msg":"need login"}', "application/json; charset=utf-8")
            key = ("weibo_album_list", id(user))
            with data.lock:
                body = data.cache.get(key)
                if body is None:
                    body = weibo_album_list(user).encode("utf-8")
                    data.cache[key] = body
            return Answer(body, "application/json; charset=utf-8")
        if path == "/photos/get_all" and user is not None:
            album = data.find(user.get("albums", []), "album_id", q("album_id"))
            if album is not None:
                page = int(q("page", "1") or "1") if q("page", "1").isdigit() else 1
                count = int(q("count", "32")) if q("count", "32").isdigit() else 32
                # "empty_pages": {"<page>": N} answers that page without
                # photos the first N times it is asked for.
                times = int(album.get("empty_pages", {}).get(str(page), 0))
                if times:
                    hit_key = (album["album_id"], page)
                    with data.lock:
                        hits = data.empty_hits.get(hit_key, 0)
                        data.empty_hits[hit_key] = hits + 1
                    if hits < times:
                        return Answer('{"result":true,"data":{"total":0,"photo_list":[]},"code":0}',
                                      "application/json; charset=utf-8")
                return Answer(weibo_photo_list(user, album, page, max(count, 1)), "application/json; charset=utf-8")
        return Answer('{"result":false,"code":"A00001"}', "application/json; charset=utf-8")

    return Answer(*NOT_FOUND)


def page_answer(data, page):
    """A literal answer of the "pages" map."""
    if "body_base64" in page:
        body = base64.b64decode(page["body_base64"])
    elif "body_file" in page:
        with open(os.path.join(data.base_dir, page["body_file"]), "rb") as f:
            body = f.read()
    elif "repeat" in page:
        # Large bodies without a large data file: a text repeated up to a size.
        text = page["repeat"].encode(page.get("encoding", "utf-8"))
        size = int(page.get("size", len(text)))
        body = (text * (size // max(len(text), 1) + 1))[:size]
    else:
        body = page.get("body", "").encode(page.get("encoding", "utf-8"), "replace")
    return Answer(body, page.get("content_type", "text/html; charset=utf-8"), int(page.get("status", 200)),
                  page.get("headers"))


def compressed(data, body):
    """gzip of a body; large bodies (the big album lists) are compressed once."""
    if len(body) < (1 << 20):
        return gzip.compress(body, compresslevel=6, mtime=0)
    key = ("gzip", len(body), hash(body))
    with data.lock:
        cached = data.cache.get(key)
    if cached is None:
        cached = gzip.compress(body, compresslevel=6, mtime=0)
        with data.lock:
            data.cache[key] = cached
    return cached


# ---------------------------------------------------------------------------
# TLS: a test certificate authority made at start, and a certificate for any
# host a client tunnels to, signed on first use. The "tls" key of the data
# makes chosen hosts misbehave: "expired" (a certificate past its end),
# "untrusted" (signed by an authority nobody trusts), "tls10_only".


class TestAuthority:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.contexts = {}
        self.serial = 1
        self.ca = self.make_authority("ca", "Tamblin fake service test CA")
        # What clients trust: CURL_CA_BUNDLE=<folder>/ca.pem. The rest is
        # made on first use, so that a service nobody tunnels to starts fast.
        shutil.copyfile(self.ca[1], self.path("ca.pem"))
        self.stranger = None
        self.leaf_key = None
        self.leaf_csr = None

    def path(self, name):
        return os.path.join(self.folder, name)

    def openssl(self, *args):
        subprocess.run(("openssl",) + args, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def make_authority(self, name, subject):
        key, cert = self.path(name + ".key"), self.path(name + ".crt")
        self.openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                     "-keyout", key, "-out", cert, "-subj", "/CN=" + subject, "-days", "30",
                     "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        return key, cert

    def context(self, host, kind):
        with self.lock:
            context = self.contexts.get((host, kind))
            if context is None:
                context = self.make_context(host, kind)
                self.contexts[(host, kind)] = context
            return context

    def make_context(self, host, kind):
        if self.leaf_key is None:
            key, csr = self.path("leaf.key"), self.path("leaf.csr")
            self.openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                         "-keyout", key, "-subj", "/CN=fake service", "-out", csr)
            self.leaf_key, self.leaf_csr = key, csr
        if kind == "untrusted" and self.stranger is None:
            self.stranger = self.make_authority("stranger", "An authority nobody trusts")
        self.serial += 1
        cert = self.path("host%d.crt" % self.serial)
        extensions = self.path("host%d.ext" % self.serial)
        name = ("IP:" if host.replace(".", "").isdigit() or ":" in host else "DNS:") + host
        with open(extensions, "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n" % name)
        issuer = self.stranger if kind == "untrusted" else self.ca
        # -days -1: the certificate ended a day before it began.
        self.openssl("x509", "-req", "-in", self.leaf_csr, "-CA", issuer[1], "-CAkey", issuer[0],
                     "-set_serial", str(self.serial), "-days", "-1" if kind == "expired" else "30",
                     "-extfile", extensions, "-out", cert)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if kind == "tls10_only":
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)  # that is the point
                context.minimum_version = ssl.TLSVersion.TLSv1
                context.maximum_version = ssl.TLSVersion.TLSv1
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.load_cert_chain(cert, self.leaf_key)
        return context


# ---------------------------------------------------------------------------
# The proxy front


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeSina/1.0"
    sys_version = ""

    def log_message(self, fmt, *args):  # quiet: the request log says what happened
        pass

    tunnel = None  # the TLS socket of a CONNECT tunnel
    tunnel_authority = ""

    def setup(self):
        super().setup()
        # As web servers do on kept connections: the body written after the
        # headers must not wait for the client's delayed ACK (40 ms a request).
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def absolute_url(self):
        if self.path.startswith("http://") or self.path.startswith("https://"):
            return self.path
        if self.tunnel is not None:
            return "https://%s%s" % (self.tunnel_authority, self.path)
        return "http://%s%s" % (self.headers.get("Host", "localhost"), self.path)

    def fault_for(self, url):
        data = self.server.data
        # An http prefix matches the same address over https too.
        twin = "http://" + url[len("https://"):] if url.startswith("https://") else url
        for index, fault in enumerate(data.faults):
            match = fault.get("match", "\0")
            if url.startswith(match) or twin.startswith(match):
                with data.lock:
                    hits = data.fault_hits.get(index, 0)
                    data.fault_hits[index] = hits + 1
                if "times" in fault and hits >= int(fault["times"]):
                    continue
                return fault
        return None

    def do_GET(self):
        data = self.server.data
        logged_url = self.absolute_url()
        self.server.log_request_line(self.command, logged_url, self.headers)
        unsigned, expires = unsigned_clip(data, logged_url)
        url = same_data_url(data, unsigned)
        fault = self.fault_for(logged_url) or {}
        if fault.get("delay"):
            time.sleep(float(fault["delay"]))
        if fault.get("hold"):
            # Held until the file it names exists (a test lets it go), at
            # most a minute.
            deadline = time.monotonic() + 60
            while not os.path.exists(fault["hold"]) and time.monotonic() < deadline:
                time.sleep(0.02)
        if fault.get("close"):
            self.close_connection = True
            return
        if url in data.pictures and data.picture_referer and not from_sina_page(self.headers.get("Referer")):
            answer = Answer("<html><body>403 Forbidden</body></html>", status=403)
        elif expires is not None and time.time() > expires:
            # The signature no longer holds: ask the post for a fresh one.
            answer = Answer("<html><body>403 Forbidden</body></html>", status=403)
        elif url in data.pictures and data.pictures[url].get("hostile"):
            self.hostile_picture(data.pictures[url])
            return
        else:
            answer = route(data, url, self.headers)
        if "status" in fault:
            answer.status = int(fault["status"])
        # Rate-limit answers: their own body ("100005") and headers
        # ("Retry-After").
        if "body" in fault:
            answer.body = fault["body"].encode("utf-8")
        answer.headers = dict(answer.headers, **fault.get("headers", {}))
        body = answer.body
        if fault.get("empty"):
            body = b""
        if "cut" in fault:
            body = body[:int(fault["cut"])]
        encoding = None
        if "gzip" in (self.headers.get("Accept-Encoding") or "") and body:
            body = compressed(data, body)
            encoding = "gzip"
            if fault.get("corrupt_gzip"):
                middle = len(body) // 2
                body = body[:middle] + bytes(b ^ 0x5A for b in body[middle:middle + 16]) + body[middle + 16:]
        announced = len(body)
        if "truncate" in fault:
            body = body[:int(fault["truncate"])]
        self.send_response(answer.status)
        self.send_header("Content-Type", answer.content_type)
        if encoding:
            self.send_header("Content-Encoding", encoding)
        for name, value in answer.headers.items():
            for line in value if isinstance(value, list) else [value]:
                self.send_header(name, line)
        self.send_header("Content-Length", str(announced))
        if "truncate" in fault:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def do_POST(self):
        """The passport's visitor step is a POST; its form is read and
        answered as a GET of the same address would be."""
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(min(length, 1 << 20))
        self.do_GET()

    def hostile_picture(self, spec):
        """Pictures that never end, stall, lie about their length, trickle
        or redirect where a client must not follow."""
        kind = spec["hostile"]
        body = picture_body(self.server.data, spec)
        self.close_connection = True
        try:
            if kind == "redirect":
                self.send_response(int(spec.get("status", 302)))
                self.send_header("Location", spec.get("location", "file:///etc/passwd"))
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(200)
            self.send_header("Content-Type", "image/jpeg")
            if kind == "lie":
                # More announced than sent, then the connection closes.
                self.send_header("Content-Length", str(len(body) * 4))
            elif kind in ("stall", "trickle"):
                self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            if kind == "lie":
                self.wfile.write(body)
            elif kind == "endless":
                # No length, and bytes for ever.
                self.wfile.write(body[:len(body) // 2])
                chunk = b"\x00" * 65536
                deadline = time.monotonic() + float(spec.get("seconds", 120))
                while time.monotonic() < deadline:
                    self.wfile.write(chunk)
            elif kind == "stall":
                self.wfile.write(body[:len(body) // 2])
                self.wfile.flush()
                time.sleep(float(spec.get("seconds", 60)))
            elif kind == "trickle":
                deadline = time.monotonic() + float(spec.get("seconds", 60))
                for i in range(len(body)):
                    if time.monotonic() > deadline:
                        break
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(0.2)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_CONNECT(self):
        """A tunnel to host:port ends here: TLS under the test authority,
        then the same answers as over plain HTTP, as https addresses."""
        self.server.log_request_line(self.command, self.path, self.headers)
        authority = self.server.authority
        host, _, port = self.path.rpartition(":")
        host = host.strip("[]").lower()
        if authority is None or not host or not port.isdigit():
            self.send_error(502, "no tunnel to " + self.path)
            return
        try:
            context = authority.context(host, self.server.data.tls_kind(host))
        except (subprocess.CalledProcessError, ssl.SSLError, OSError) as error:
            self.send_error(502, "no certificate for %s: %s" % (host, error))
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        try:
            tunnel = context.wrap_socket(self.connection, server_side=True)
        except (ssl.SSLError, OSError):
            # The client refused the certificate or the protocol.
            self.close_connection = True
            return
        self.rfile.close()
        self.tunnel = tunnel
        self.tunnel_authority = host if port == "443" else "%s:%s" % (host, port)
        self.connection = tunnel
        self.rfile = tunnel.makefile("rb", self.rbufsize)
        self.wfile = socketserver._SocketWriter(tunnel)
        self.close_connection = False

    def finish(self):
        try:
            super().finish()
        finally:
            if self.tunnel is not None:
                self.tunnel.close()


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, data, log_path, authority=None):
        super().__init__(address, Handler)
        self.data = data
        self.authority = authority
        self.log_lock = threading.Lock()
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    def log_request_line(self, method, url, headers):
        if not self.log_file:
            return
        record = {"method": method, "url": url, "time": round(time.time(), 3),
                  "headers": [[k, v] for k, v in headers.items()]}
        with self.log_lock:
            self.log_file.write(json.dumps(record, ensure_ascii=False) + "\n")
            self.log_file.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", required=True, help="the JSON data file")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free port)")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--log", help="append one JSON line per request to this file")
    parser.add_argument("--tls-dir", help="folder for the test authority (ca.pem is what clients trust); "
                                          "default: a temporary folder removed at the end")
    parser.add_argument("--exit-with-stdin", action="store_true",
                        help="end when standard input closes (when the process that started it ends)")
    args = parser.parse_args()
    tls_dir = args.tls_dir or tempfile.mkdtemp(prefix="fake-service-tls-")
    os.makedirs(tls_dir, exist_ok=True)
    if args.exit_with_stdin:
        def watch():
            while sys.stdin.buffer.read(4096):
                pass
            if not args.tls_dir:
                shutil.rmtree(tls_dir, ignore_errors=True)
            os._exit(0)
        threading.Thread(target=watch, daemon=True).start()

    data = Data(args.data)
    try:
        authority = TestAuthority(tls_dir)
    except (OSError, subprocess.CalledProcessError) as error:
        print("fake_service: no TLS (openssl failed: %s)" % error, file=sys.stderr)
        authority = None
    server = Server((args.bind, args.port), data, args.log, authority)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if not args.tls_dir:
            shutil.rmtree(tls_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
