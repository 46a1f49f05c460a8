#!/usr/bin/env python3
"""A stand-in for the Sina photo service, the Sina blog, Weibo and the Weibo
photo service, for tests and the offline demo.

It is an HTTP proxy that never forwards: clients point http_proxy at it and
keep the real host names, so the program's real request path is exercised.
Everything it serves comes from a JSON data file (see README.md beside this
file). Standard library only.

    fake_service.py --data demo.json [--port 0] [--log requests.jsonl]

It prints the port it listens on as one line on stdout once it is ready.
"""

import argparse
import base64
import gzip
import html
import json
import os
import sys
import threading
import time
import struct
import urllib.parse
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


def sina_album_page(user, album, page):
    """One page of a Sina photo album (class="pt_border" thumbnails)."""
    per_page = int(album.get("per_page", 20))
    photos = album.get("photos", [])
    if album.get("endless_pages"):
        page = 1  # every page number gets the first page, next-page link included
    chunk = photos[(page - 1) * per_page:page * per_page]
    blocks = []
    for photo in chunk:
        src = photo.get("src", photo) if isinstance(photo, dict) else photo
        title = photo.get("title", "") if isinstance(photo, dict) else ""
        blocks.append('<div class="pic"><a href="#"><img class="pt_border" src="%s" title="%s" /></a></div>'
                      % (attr(src), attr(title)))
    more = page * per_page < len(photos) or album.get("endless_pages", False)
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
                         '<p class="atc_info"><span class="atc_tm SG_txtc">(2014-05-30 10:00)</span></p></div>\n'
                         % (title, url, title))
    more = page * per_page < len(articles)
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
    else:
        config = "$CONFIG['oid'] = '%s';\n$CONFIG['onick'] = '%s';\n" % (uid, nick)
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s的微博_微博</title>\n'
            '<script type="text/javascript">var $CONFIG = {};\n$CONFIG[\'islogin\'] = \'1\';\n%s</script>\n'
            '</head><body><div class="WB_frame">加载中</div></body></html>\n' % (attr(nick), config))


def weibo_login_page():
    # No owner id in any of the three forms.
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>Sina Visitor System</title></head>'
            '<body><div class="login">请先登录微博。<a href="http://login.sina.com.cn/">登录</a></div></body></html>\n')


def weibo_cookie_page(data, path, query):
    """Pages of the login browser tests on weibo.com: /fake/login sets the
    login cookie by Set-Cookie (HttpOnly) and a second one by script,
    /fake/logout deletes both, /fake/cookie-flood?n=N sets N cookies by script
    plus cookies no browser keeps (a domain of ".com", an oversized value).
    Each page sets its title to "done" once its script has run."""
    script_cookie = data.raw.get("script_cookie", "SUBP=script-login")
    domain = "; path=/; domain=.weibo.com"
    if path == "/fake/login":
        header = data.login_cookie + domain + "; max-age=31536000; HttpOnly"
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
    body = ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>loading</title></head><body>%s'
            '<script>%s\ndocument.title = "done";</script></body></html>\n' % (attr(path), script))
    return Answer(body, headers={"Set-Cookie": header, "Cache-Control": "no-store"})


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


def weibo_photo_list(user, album, page, count):
    photos = album.get("photo_list", [])
    chunk = photos[(page - 1) * count:page * count]
    items = []
    for i, photo in enumerate(chunk):
        fields = {
            "photo_id": json_text(photo.get("photo_id", "%s%04d" % (album["album_id"], (page - 1) * count + i))),
            "caption": json_text(photo.get("caption", "")),
            "original_pic": json_text(photo.get("original_pic", "")),
            "pic_type": str(int(photo.get("pic_type", 1))),
            "pic_name": json_text(photo.get("pic_name", "")),
            "pic_host": json_text(photo.get("pic_host", "")),
        }
        items.append(json_object(fields, ["photo_id", "caption", "original_pic", "pic_type", "pic_name", "pic_host"]))
    return '{"result":true,"data":{"total":%d,"photo_list":[%s]},"code":0}' % (len(photos), ",".join(items))


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


PICTURE_MAKERS = {"jpeg": jpeg_bytes, "png": png_bytes, "gif": gif_bytes}
PICTURE_TYPES = {"jpeg": "image/jpeg", "png": "image/png", "gif": "image/gif"}


def picture_body(data, spec):
    key = ("picture", spec.get("format", "jpeg"), int(spec.get("size", 2048)))
    with data.lock:
        body = data.cache.get(key)
    if body is None:
        body = PICTURE_MAKERS[key[1]](key[2])
        with data.lock:
            data.cache[key] = body
    return body


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
    return data.login_cookie in pairs


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

    if host in (WEIBO_HOST, "www." + WEIBO_HOST):
        cookie_page = weibo_cookie_page(data, path, query)
        if cookie_page is not None:
            return cookie_page
        for user in data.weibo_users:
            user_paths = [user.get("path", "/u/%s" % user["uid"])] + user.get("aliases", [])
            if path in user_paths:
                if user.get("needs_login", True) and not has_login(data, headers.get("Cookie")):
                    return Answer(weibo_login_page())
                return Answer(weibo_user_page(user))
        return Answer(*NOT_FOUND)

    if host == WEIBO_PHOTO_HOST:
        user = data.find(data.weibo_users, "uid", q("uid"))
        if path == "/albums/get_all":
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
# The proxy front


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeSina/1.0"
    sys_version = ""

    def log_message(self, fmt, *args):  # quiet: the request log says what happened
        pass

    def absolute_url(self):
        if self.path.startswith("http://") or self.path.startswith("https://"):
            return self.path
        return "http://%s%s" % (self.headers.get("Host", "localhost"), self.path)

    def fault_for(self, url):
        data = self.server.data
        for index, fault in enumerate(data.faults):
            if url.startswith(fault.get("match", "\0")):
                with data.lock:
                    hits = data.fault_hits.get(index, 0)
                    data.fault_hits[index] = hits + 1
                if "times" in fault and hits >= int(fault["times"]):
                    continue
                return fault
        return None

    def do_GET(self):
        data = self.server.data
        url = self.absolute_url()
        self.server.log_request_line(self.command, url, self.headers)
        fault = self.fault_for(url) or {}
        if fault.get("delay"):
            time.sleep(float(fault["delay"]))
        if fault.get("close"):
            self.close_connection = True
            return
        if url in data.pictures and data.pictures[url].get("hostile"):
            self.hostile_picture(data.pictures[url])
            return
        answer = route(data, url, self.headers)
        if "status" in fault:
            answer.status = int(fault["status"])
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
            self.send_header(name, value)
        self.send_header("Content-Length", str(announced))
        if "truncate" in fault:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

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
        # The program speaks plain HTTP to these services.
        self.server.log_request_line(self.command, self.path, self.headers)
        self.send_error(405, "CONNECT not supported")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, data, log_path):
        super().__init__(address, Handler)
        self.data = data
        self.log_lock = threading.Lock()
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    def log_request_line(self, method, url, headers):
        if not self.log_file:
            return
        record = {"method": method, "url": url,
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
    parser.add_argument("--exit-with-stdin", action="store_true",
                        help="end when standard input closes (when the process that started it ends)")
    args = parser.parse_args()
    if args.exit_with_stdin:
        def watch():
            while sys.stdin.buffer.read(4096):
                pass
            os._exit(0)
        threading.Thread(target=watch, daemon=True).start()

    data = Data(args.data)
    server = Server((args.bind, args.port), data, args.log)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
