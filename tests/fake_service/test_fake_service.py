#!/usr/bin/env python3
"""Checks of the fake Sina service itself, through its proxy front."""

import gzip
import http.client
import json
import os
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import unittest.mock
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))

DATA = {
    "login_cookie": "SUB=ok",
    "picture_referer": False,
    "sina_photo_users": [{"uid": "1", "title": "相册", "albums": [
        {"name": "一/二", "pic_cnt": 3}, {"name": "b", "key_order": ["big_url", "category"]}]}],
    "sina_blogs": [{"uid": "5", "title": "博客", "per_page": 1, "articles": [{"id": "x", "title": "甲"}, {"id": "y", "title": "乙"}]}],
    "weibo_users": [{"uid": "9", "nickname": "鹿", "oid_form": "compact", "generate_albums": 1000, "generate_distinct": 10},
                    {"uid": "10", "needs_login": False, "albums": [
                        {"album_id": "1", "empty_pages": {"2": 1},
                         "photo_list": [{"caption": str(i)} for i in range(40)]}]}],
    "pictures": {"http://ww1.sinaimg.cn/large/a.jpg": {"size": 5000},
                 "http://ww1.sinaimg.cn/large/b.jpg": {"format": "png", "size": 6000},
                 "http://ww1.sinaimg.cn/large/c.png": {"format": "gif", "size": 300, "content_type": "image/png"},
                 "http://ww1.sinaimg.cn/lie": {"size": 1000, "hostile": "lie"},
                 "http://ww1.sinaimg.cn/away": {"hostile": "redirect", "location": "file:///etc/hostname"}},
    "pages": {"http://weibo.com/raw": {"body": "raw 页", "status": 404}},
    "faults": [{"match": "http://blog.sina.com.cn/s/articlelist_5_0_2", "status": 503, "times": 1},
               {"match": "http://weibo.com/cut", "cut": 3},
               {"match": "http://weibo.com/slow", "delay": 0.5},
               {"match": "http://photo.blog.sina.com.cn/services/", "corrupt_gzip": True},
               {"match": "http://photo.blog.sina.com.cn/u/1?short", "truncate": 10}],
}


class FakeServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        path = os.path.join(cls.dir.name, "data.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(DATA, f, ensure_ascii=False)
        cls.log = os.path.join(cls.dir.name, "log.jsonl")
        cls.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_service.py"), "--data", path,
                                     "--log", cls.log], stdout=subprocess.PIPE, text=True)
        port = int(cls.proc.stdout.readline())
        cls.opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": "http://127.0.0.1:%d" % port}))

    @classmethod
    def tearDownClass(cls):
        cls.proc.kill()
        cls.proc.wait()
        cls.proc.stdout.close()
        cls.dir.cleanup()

    def get(self, url, headers=None):
        request = urllib.request.Request(url, headers=headers or {})
        try:
            with self.opener.open(request, timeout=20) as answer:
                return answer.status, dict(answer.headers), answer.read()
        except urllib.error.HTTPError as error:
            return error.code, dict(error.headers), error.read()

    def test_sina_photo_answers(self):
        status, _, body = self.get("http://photo.blog.sina.com.cn/u/1")
        self.assertEqual(status, 200)
        self.assertIn('class="blogtitle">'.encode(), body)
        self.assertIn(b"articlelist_1_", body)
        _, _, body = self.get("http://photo.blog.sina.com.cn/services/ctg_list_ctg.php?format=gsonv&uid=1")
        text = body.decode()
        self.assertIn('"category":"\\u4e00\\/\\u4e8c"', text)
        self.assertIn('"ctg_url":"http:\\/\\/photo.blog.sina.com.cn\\/category\\/u\\/1\\/s\\/1"', text)
        self.assertLess(text.index('"big_url"', text.index('"category":"b"') - 100), text.index('"category":"b"'))

    def test_gzip_only_when_asked(self):
        url = "http://photo.weibo.com/albums/get_all?uid=9&count=65535"
        _, headers, plain = self.get(url, {"Cookie": "SUB=ok"})
        self.assertNotIn("Content-Encoding", headers)
        _, headers, packed = self.get(url, {"Cookie": "SUB=ok", "Accept-Encoding": "gzip, deflate"})
        self.assertEqual(headers.get("Content-Encoding"), "gzip")
        self.assertEqual(gzip.decompress(packed), plain)
        self.assertEqual(plain.count(b'"album_id":"'), 1000)
        self.assertEqual(plain.count(b'"caption":"\\u76f8\\u518c3"'), 100)

    def test_weibo_login(self):
        _, _, page = self.get("http://weibo.com/u/9")
        self.assertNotIn(b"['oid']", page)
        self.assertNotIn(b'"id":', page)
        _, _, page = self.get("http://weibo.com/u/9", {"Cookie": "a=b; SUB=ok"})
        self.assertIn("$CONFIG['oid']='9';\n$CONFIG['onick']='鹿';".encode(), page)
        _, _, answer = self.get("http://photo.weibo.com/albums/get_all?uid=9&count=65535", {"Cookie": ""})
        self.assertNotIn(b"album_id", answer)

    def test_blog_pages_gbk_and_faults(self):
        status, headers, page = self.get("http://blog.sina.com.cn/s/articlelist_5_0_1.html")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "text/html; charset=GBK")
        text = page.decode("gbk")
        self.assertIn('<a title="甲"', text)
        self.assertIn('">下一页', text)
        self.assertEqual(self.get("http://blog.sina.com.cn/s/articlelist_5_0_2.html")[0], 503)
        status, _, page = self.get("http://blog.sina.com.cn/s/articlelist_5_0_2.html")
        self.assertEqual(status, 200)
        self.assertNotIn("下一页".encode("gbk"), page)
        self.assertEqual(self.get("http://weibo.com/raw"), (404, unittest.mock.ANY, "raw 页".encode()))
        self.assertEqual(len(self.get("http://weibo.com/cut")[2]), 3)

    def test_slow_corrupt_and_truncated_answers(self):
        started = time.monotonic()
        self.get("http://weibo.com/slow")
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        url = "http://photo.blog.sina.com.cn/services/ctg_list_ctg.php?format=gsonv&uid=1"
        _, headers, packed = self.get(url, {"Accept-Encoding": "gzip"})
        self.assertEqual(headers.get("Content-Encoding"), "gzip")
        with self.assertRaises(Exception):
            gzip.decompress(packed)
        with self.assertRaises(http.client.IncompleteRead):
            self.get("http://photo.blog.sina.com.cn/u/1?short")

    def test_pictures_formats_sizes_and_hostile_ones(self):
        for name, magic, size, kind in (("a.jpg", b"\xff\xd8\xff", 5000, "image/jpeg"),
                                        ("b.jpg", b"\x89PNG\r\n", 6000, "image/png"),
                                        ("c.png", b"GIF89a", 300, "image/png")):
            status, headers, body = self.get("http://ww1.sinaimg.cn/large/" + name)
            self.assertEqual((status, len(body), headers["Content-Type"]), (200, size, kind))
            self.assertTrue(body.startswith(magic), name)
        self.assertTrue(self.get("http://ww1.sinaimg.cn/large/a.jpg")[2].endswith(b"\xff\xd9"))
        with self.assertRaises(http.client.IncompleteRead):
            self.get("http://ww1.sinaimg.cn/lie")
        status, headers, _ = self.get("http://ww1.sinaimg.cn/away")
        self.assertEqual((status, headers["Location"]), (302, "file:///etc/hostname"))

    def test_weibo_page_empty_the_set_number_of_times(self):
        url = "http://photo.weibo.com/photos/get_all?uid=10&album_id=1&count=32&type=3&page=%d"
        self.assertEqual(self.get(url % 1)[2].count(b'"photo_id":'), 32)
        self.assertEqual(self.get(url % 2)[2].count(b'"photo_id":'), 0)
        self.assertEqual(self.get(url % 2)[2].count(b'"photo_id":'), 8)
        self.assertEqual(self.get(url % 3)[2].count(b'"photo_id":'), 0)

    def test_requests_are_logged_with_their_headers(self):
        self.get("http://weibo.com/u/9", {"cookie": ""})
        with open(self.log, encoding="utf-8") as f:
            records = [json.loads(line) for line in f]
        record = [r for r in records if r["url"] == "http://weibo.com/u/9"][-1]
        self.assertIn(["cookie", ""], [[k.lower(), v] for k, v in record["headers"]])


class TlsAndRefererTest(unittest.TestCase):
    """The same data over a CONNECT tunnel under the test authority, and
    pictures refused without a Referer."""

    def test_https_tunnel_wall_and_referer(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "data.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump({"weibo_users": [{"uid": "7", "needs_login": False, "image_wall": {"pictures": ["abc"]}}],
                           "pictures": {"http://ww1.sinaimg.cn/large/a.jpg": {"size": 500}}}, f)
            proc = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_service.py"), "--data", path,
                                     "--tls-dir", os.path.join(folder, "tls")], stdout=subprocess.PIPE, text=True)
            try:
                proxy = "http://127.0.0.1:%d" % int(proc.stdout.readline())
                context = ssl.create_default_context(cafile=os.path.join(folder, "tls", "ca.pem"))
                opener = urllib.request.build_opener(urllib.request.ProxyHandler({"https": proxy}),
                                                     urllib.request.HTTPSHandler(context=context))
                with opener.open("https://weibo.com/ajax/profile/getImageWall?uid=7&sinceid=0", timeout=20) as answer:
                    self.assertEqual(json.load(answer)["data"]["list"][0]["pid"], "abc")
                # The http picture over https, with and without a Referer.
                request = urllib.request.Request("https://ww1.sinaimg.cn/large/a.jpg",
                                                 headers={"Referer": "https://weibo.com/"})
                with opener.open(request, timeout=20) as answer:
                    self.assertEqual(len(answer.read()), 500)
                with self.assertRaises(urllib.error.HTTPError) as refused:
                    opener.open("https://ww1.sinaimg.cn/large/a.jpg", timeout=20)
                self.assertEqual(refused.exception.code, 403)
                refused.exception.close()
            finally:
                proc.kill()
                proc.wait()
                proc.stdout.close()


if __name__ == "__main__":
    unittest.main()
