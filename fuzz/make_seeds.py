#!/usr/bin/env python3
"""Writes the seed corpora fuzz/corpus/<target>/ (Python standard library only).

The targets read their input with libFuzzer's FuzzedDataProvider: texts from
the front (a backslash followed by another character ends one), numbers from
the back, first number from the last bytes. Seed builds inputs that way.

    python3 fuzz/make_seeds.py        # then commit fuzz/corpus/
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # bytes in the order they are consumed from the end

    def raw(self, data):
        """What ConsumeRandomLengthString returns, then its end mark."""
        self.front += data.replace(b"\\", b"\\\\") + b"\\;"
        return self

    def number(self, value, size):
        """A number of `size` bytes; the first byte consumed is the highest."""
        for i in range(size):
            self.back.append((value >> (8 * (size - 1 - i))) & 0xFF)
        return self

    def text(self, s, utf16=False):
        """ConsumeText: a bool (UTF-16 or UTF-8), then the bytes."""
        self.number(1 if utf16 else 0, 1)
        return self.raw(s.encode("utf-16-le") if utf16 else s.encode("utf-8"))

    def rest(self, data):
        """ConsumeRemainingBytesAsString, after every number was taken."""
        self.front += data
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def gzip_bytes(data):
    c = zlib.compressobj(6, zlib.DEFLATED, 31)
    return c.compress(data) + c.flush()


def text_utils():
    def seed(begin, end, flags, old, new, text, bytes_=b""):
        s = Seed().text(begin).text(end).number(flags, 1).text(old).text(new).text(text)
        return s.rest(bytes_).bytes()
    write("text_utils", "walk", seed("[", "]", 1, "a|b", "x|y", "a[x]b[y]c[z", "\xe4\xb8\xad".encode("latin-1")))
    write("text_utils", "tags", seed("<", ">", 3, "<b>", "", "x<b>y</b>z<>w<i>v</i>&amp;lt;&quot;&nbsp;&hellip;&#39;"))
    write("text_utils", "json", seed("\"caption\":\"", "\"", 1, "|", "_|-",
                                     '{"caption":"\\u4e2d\\u6587abc\\u12","x":"\\ud83d\\ude00"}'))
    write("text_utils", "gbk", seed("title=\"", "\"", 0, "", "", "<a title=\"中文\">",
                                    "博客".encode("gbk") + b"\x80\xff" + "한".encode("euc-kr")))


def naming():
    def seed(rules, albums, pictures, mode, folder_mode, flags=0):
        s = Seed()
        s.text("a:b*c?.jpg  ").number(1, 1).number(1, 1)  # SanitizeName, fallback, time stamp
        s.text("user")
        for field in rules:
            s.text(field)
        s.number(flags, 2).number(mode, 1).number(folder_mode, 1)
        s.number(len(albums) - 1, 1)
        for name in albums:
            s.text(name).number(7, 4).number(9, 4)
        s.number(2, 4)
        for address, description in pictures:
            s.text(address).text(description)
        return s.bytes()
    six = ["", "", "", "", "", ""]
    write("naming", "descriptions", seed(six, ["Album", "旅行 &amp; 风景"],
                                         [("http://x/1.jpg", "sunset"), ("http://x/2.jpg", "Sunset"),
                                          ("http://x/3.jpg", "..."), ("http://x/4.jpg", "\t.hidden.")], 0, 0, 0x04))
    write("naming", "addresses", seed(six, ["a"], [("http://x/abc.PNG", ""), ("http://x/abc.png", ""),
                                                   ("http://x/?id=5", ""), ("nothing", "")], 2, 0))
    write("naming", "escapes", seed(["?3_", "_?2", "a|b", "b|a", "?1-", "_?9"], ["a", "b", "c"],
                                    [("u1", "?1?2?3?4?5?6?7?8?9"), ("u2", "x" * 300)], 1, 0))
    write("naming", "full_path", seed(six, ["", "album"], [("u", "/dev/null/save/album/sub/x.jpg"),
                                                          ("u", "/dev/null/save/album/../../etc/x.jpg"),
                                                          ("u", "/dev/null/save/x.jpg")], 0, 1))


def settings():
    image = bytearray(19808)
    for site in range(24):
        struct.pack_into("<HHHH", image, site * 8, 0, 0, 0 if site == 3 else 5, 5 if site == 3 else 30)
    rules = 192 + 4 * 484
    prefix = "?3_".encode("utf-16-le")
    image[rules:rules + len(prefix)] = prefix
    struct.pack_into("<HBB", image, rules + 480, 0x46, 1, 0)
    history = "http://photo.blog.sina.com.cn/u/1234567890".encode("utf-16-le")
    image[11808:11808 + len(history)] = history
    ini = ("[QQ空间]\r\nV2编码=utf8\r\nV3编码 = UTF8X\r\n取原始名方式=-5\r\n"
           "[淘宝]\r\n图片名中是否有价格=有\r\n价格增减=99999999999\r\n")

    def seed(section, key, ini_bytes, image_bytes):
        return Seed().text(section).text(key).raw(ini_bytes).rest(image_bytes).bytes()
    write("settings", "full", seed("淘宝", "价格增减", ini.encode("utf-8"), bytes(image)))
    write("settings", "utf16", seed("QQ空间", "V2编码", b"\xff\xfe" + ini.encode("utf-16-le"), bytes(image[:300])))
    write("settings", "gbk", seed("qq空间", "v3编码", ini.encode("gbk"), b""))


def inflate():
    page = ('<html><meta charset="utf-8"><h1 class="blogtitle">中文 &amp; 标题</h1>' * 20).encode("utf-8")

    def seed(limit, options, gbk, begin, end, body):
        s = Seed().number(limit, 3).number(options, 1).number(1 if gbk else 0, 1)
        return s.raw(begin).raw(end).rest(body).bytes()
    write("inflate", "gzip", seed(1 << 20, 3, False, b"title", b"</h1", gzip_bytes(page)))
    write("inflate", "zlib", seed(1000, 1, True, b"", b"", zlib.compress(page.decode("utf-8").encode("gbk"))))
    write("inflate", "truncated", seed(1 << 20, 17, False, b"", b"", gzip_bytes(page)[:-20]))
    write("inflate", "bomb", seed(4096, 3, False, b"", b"", gzip_bytes(b"\0" * 200000)))


def cookies():
    lines = (b"# Netscape HTTP Cookie File\n"
             b".weibo.com\tTRUE\t/\tFALSE\t0\tSUB\tlogin\n"
             b"#HttpOnly_weibo.com\tFALSE\t/p\tTRUE\t4102444800\tSUBP\tx=y\n"
             b"photo.weibo.com\tFALSE\t/albums\tFALSE\t1.5e9\told\tgone\n"
             b"sina.com.cn\tTRUE\t/\tFALSE\t0\t\tnameless\r\n")
    write("cookies", "weibo", Seed().raw(b"http://weibo.com/").rest(lines).bytes())
    write("cookies", "https_path", Seed().raw(b"https://photo.weibo.com/p/x?y").rest(lines).bytes())


def extractors():
    def seed(extractor, options, album, pages):
        return bytes([extractor, options]) + album.encode("utf-8") + b"\n" + b"\n--page--\n".join(pages)
    photo_user = ('<html><h1 class="blogtitle"><a href="x">风景 &amp; 人像</a></h1>'
                  '<a href="http://blog.sina.com.cn/s/articlelist_1234567890_0_1.html">').encode("utf-8")
    categories = ('{"data":{"list":[{"category":"\\u65c5\\u884c","ctg_id":"1","pic_cnt":"12",'
                  '"ctg_url":"http:\\/\\/photo.blog.sina.com.cn\\/category\\/u\\/1\\/s\\/1",'
                  '"big_url":"http:\\/\\/x\\/c.jpg"},{"category":"","pic_cnt":"x"},'
                  '{"category":"b","big_url":"y","ctg_url":"z"}]}}').encode("utf-8")
    write("extractors", "sina_photo_albums", seed(0, 0, "", [photo_user, categories]))
    blog_list = ('<h1 id="blogname" class="blogtitle"><span>博客</span></h1>'
                 '<span class="atc_title"><a title="第一篇" target="_blank" href="http://blog.sina.com.cn/s/blog_1.html">a</a></span>'
                 '<span class="atc_title"><a href="x">no title</a></span>'
                 '<a href="http://blog.sina.com.cn/s/articlelist_1_0_2.html">下一页&gt;</a>').encode("gbk")
    blog_old = ('<div class="SG_j_linedot1"><a href="http://blog.sina.com.cn/s/blog_2.html" title="旧">x</a></div>').encode("gbk")
    write("extractors", "sina_blog_articles", seed(1, 1, "", [blog_list, blog_old]))
    weibo_user = b"<script>$CONFIG['oid'] = '2000000001';\n$CONFIG['onick'] = 'nick/..';\n</script>"
    weibo_albums = ('{"data":{"album_list":[{"album_id":"3000000001","uid":"2","type":3,"caption":"\\u5934\\u50cf",'
                    '"cover_pic":"http:\\/\\/ww1.sinaimg.cn\\/c.jpg","photos":70,"is_private":false},'
                    '{"album_id":"","type":1},{"album_id":"5","caption":"first","type":2,"photos":-1,}]}}').encode("utf-8")
    write("extractors", "weibo_albums", seed(2, 2, "", [weibo_user, weibo_albums]))
    photo_page = ('<div class="pic"><img class="pt_border" src="http://s1.sinaimg.cn/small/a&amp;b.jpg" title="一" /></div>'
                  '<div class="pic"><img class="pt_border" title="before" src="http://x/small/c" /></div>'
                  '<a href="/page2">下一页</a>').encode("utf-8")
    write("extractors", "sina_photo_pictures", seed(3, 4, "相册", [photo_page, photo_page.replace(b"/small/", b"/s/")]))
    article = ('<div class="articalContent   "><a href="http://photo.blog.sina.com.cn/showpic.html#blogid=1&url=http://s2.sinaimg.cn/mw690/p.jpg">'
               '<img real_src ="http://s2.sinaimg.cn/bmiddle/p.jpg" /></a></div><div class="shareUp">').encode("gbk")
    write("extractors", "sina_blog_pictures", seed(4, 1, "文章 ?1", [article]))
    photos = ('{"data":{"photo_list":[{"photo_id":"1","caption":"<b>\\u4e00<\\/b>","original_pic":"http:\\/\\/ww1\\/large\\/a.jpg"},'
              '{"photo_id":"2","caption":"","original_pic":"","pic_type":0,"pic_name":"b.jpg","pic_host":"http:\\/\\/ww2"},'
              '{"photo_id":"3","pic_type":1,"pic_name":"c","pic_host":"h"}]}}').encode("utf-8")
    write("extractors", "weibo_pictures", seed(5, 8, "头像", [photos, photos.replace(b'"1"', b'"9"'), b"{}"]))
    # A guest: turned away, the passport's visitor (JSONP), then the wall.
    guest = [b"<html>Sina Visitor System</html>", b'{"ok":-100,"url":"https://weibo.com/login.php"}',
             b'window.visitor_gray_callback && visitor_gray_callback({"retcode":20000000,"msg":"succ",'
             b'"data":{"tid":"t","sub":"_2AkMx","subp":"0033Wr"}});', b"",
             b'{"ok":1,"data":{"user":{"idstr":"1234567890","screen_name":"n"}}}',
             b'{"ok":1,"data":{"list":[{"pid":"p1","mid":"1","type":"pic"}],"since_id":0}}']
    write("extractors", "weibo_guest", seed(2, 0, "", guest))
    # Wall items of each kind, then their posts (statuses/show).
    wall = (b'{"ok":1,"data":{"list":[{"pid":"p1","type":"pic","mid":"1"},{"pid":"p2","type":"livephoto","mid":"2"},'
            b'{"mid":"3"},{"pid":"p4","type":"video","mid":"4"}],"since_id":"5"}}')
    live = (b'{"ok":1,"created_at":"Tue Feb 23 12:28:47 +0800 2021","pic_ids":["p2"],"pic_infos":{"p2":{"type":"livephoto",'
            b'"largest":{"url":"https://wx1.sinaimg.cn/large/p2.jpg"},"video":"https://livephoto.us.sinaimg.cn/p2.mov"}}}')
    mix = (b'{"ok":1,"mix_media_info":{"items":[{"type":"pic","id":"p5","data":{"largest":{"url":"//x/p5.png"}}},'
           b'{"type":"video","data":{"media_info":{"stream_url":"file:///etc/passwd"}}}]}}')
    video = (b'{"ok":1,"page_info":{"media_info":{"playback_list":[{"meta":{"quality_index":3},'
             b'"play_info":{"url":"https://f.video.weibocdn.com/4.mp4"}}]}}}')
    write("extractors", "weibo_wall", seed(5, 0x20, "全部图片", [wall, live, mix, video, b'{"ok":0,"errno":20112}']))
    # Wall items that carry their clips (a real one, one leading off the
    # Weibo hosts, a malformed one, one naming no extension), then a post
    # listing part of its pictures and the mobile answer of the whole post.
    play = b"https://video.weibo.com/media/play?livephoto="
    clips = (b'{"ok":1,"data":{"list":[{"pid":"p1","type":"livephoto","mid":"4900000000000001","video":"' + play
             + b'https%3A%2F%2Fus.sinaimg.cn%2Fp1.mov"},{"pid":"p2","type":"livephoto","mid":"2","video":"' + play
             + b'https%3A%2F%2Fevil.example%2Fp2.mov"},{"pid":"p3","type":"gif","mid":"3","video":"' + play
             + b'%zz"},{"pid":"p4","type":"livephoto","mid":"4","video":"//video.weibo.com/media/play?livephoto='
             + b'https%3A%2F%2Fus.sinaimg.cn%2Fp4"},{"mid":"5"}],"since_id":"6"}}')
    partial = b'{"ok":1,"pic_num":3,"pic_ids":["q1"],"pic_infos":{"q1":{"largest":{"url":"https://wx1.sinaimg.cn/large/q1.jpg"}}}}'
    whole = (b'{"ok":1,"data":{"pic_num":3,"pics":[{"pid":"q1"},{"pid":"q2","large":{"url":"https://wx2.sinaimg.cn/large/q2.jpg"}},'
             b'{"pid":"q3","type":"livephotos","videoSrc":"' + play + b'https%3A%2F%2Flivephoto.us.sinaimg.cn%2Fq3.mov"}]}}')
    write("extractors", "weibo_wall_clips", seed(5, 0x20, "全部图片",
                                                 [clips, b'{"ok":1}', b'{"ok":1}', partial, whole]))


def main():
    for make in (text_utils, naming, settings, inflate, cookies, extractors):
        make()
    return 0


if __name__ == "__main__":
    sys.exit(main())
