#!/usr/bin/env python3
"""Scripted HTTP server for the HTTP client's tests, on a loopback port.

Prints "PORT <n>" on its first line once it listens. Every answer is chosen
by the request path and query; the connection is closed after each answer,
unless the request asks keep=1 (then the answer says nothing of closing and
the next request may follow on the same connection; with drop=1 as well, a
connection that answered once reads the next request and closes without a
word, as a server does whose idle time-out crosses a request). Absolute-URI
requests (as sent to a proxy) are answered like any other, and /echo reports
that the request came that way.

  /body     a body from text=, hex= or size= (pattern bytes), shaped by
            gzip=1, len=none|<lie>, chunked=1, pieces=<offsets> with gap=<ms>,
            cut=<n> (close after n body bytes), status=, type=, cookie=
            (Set-Cookie, repeatable), hdr= (header line, repeatable) and
            hold=<ms> (silence before the answer)
  /echo     the raw request (head and body) as the body
  /redirect 302 (or code=) to to=
  /loop     redirects to itself without end
  /count    "RETRY" (with status failstatus=, 200 by default) for the first
            fail= requests of key=, then text=
  /hits     how many requests named key= so far
  /conns    over how many connections the requests that named of= were
            answered
  /endless  a body without length that never ends
  /bomb     a gzip body of mb= MiB of zeros (a few KiB on the wire)
  /trickle  a body without length, bytes= bytes (1) every ms= milliseconds,
            without end or for= seconds
  /flood    header lines without end
  /silent   reads the request and never answers
  /deaf     reads the request head only and never answers (nor reads on)
"""
import gzip
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
import zlib

PATTERN = bytes(range(256)) * 4096
HITS = {}
CONNS = {}  # key -> ids of the connections that carried it
HITS_LOCK = threading.Lock()
NEXT_CONN = iter(range(1, 1 << 62))
BOMBS = {}


def pattern_bytes(size):
    out = bytearray()
    while len(out) < size:
        out += PATTERN[: size - len(out)]
    return bytes(out)


def make_bomb(mb):
    if mb not in BOMBS:
        comp = zlib.compressobj(9, zlib.DEFLATED, 31)
        chunk = bytes(1 << 20)
        parts = [comp.compress(chunk) for _ in range(mb)]
        parts.append(comp.flush())
        BOMBS[mb] = b"".join(parts)
    return BOMBS[mb]


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with HITS_LOCK:
            self.conn_id = next(NEXT_CONN)
        self.keep = False

    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            more = self.request.recv(65536)
            if not more:
                return None
            data += more
            if len(data) > 1 << 20:
                return None
        head, _, rest = data.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            headers[name.strip().lower().decode("latin-1")] = value.strip().decode("latin-1")
        length = int(headers.get("content-length", "0") or 0)
        if b" /deaf" in lines[0]:
            length = 0  # leaves the request body unread
        while len(rest) < length:
            more = self.request.recv(65536)
            if not more:
                break
            rest += more
        return head + b"\r\n\r\n", lines[0].decode("latin-1"), headers, rest

    def send(self, data):
        self.request.sendall(data)

    def respond(self, status, headers, body, close_delimited=False):
        head = "HTTP/1.1 %d X\r\n" % status
        for line in headers:
            head += line + "\r\n"
        if not close_delimited:
            head += "Content-Length: %d\r\n" % len(body)
        head += self.closing() + "\r\n"
        self.send(head.encode("latin-1") + body)

    def closing(self):
        return "" if self.keep else "Connection: close\r\n"

    def handle(self):
        answered = 0
        try:
            while True:
                got = self.read_request()
                if got is None:
                    return
                raw, request_line, headers, body = got
                method, target, _ = request_line.split(" ", 2)
                proxied = target.startswith("http://") or target.startswith("https://")
                url = urllib.parse.urlsplit(target)
                path = url.path
                query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
                q = lambda name, default=None: query.get(name, [default])[0]
                self.keep = q("keep") == "1"
                dropped = self.keep and q("drop") == "1" and answered
                key = q("key")
                if key is not None and path not in ("/hits", "/conns"):
                    with HITS_LOCK:
                        HITS[key] = HITS.get(key, 0) + 1
                        if not dropped:
                            CONNS.setdefault(key, set()).add(self.conn_id)
                if dropped:
                    return
                route = getattr(self, "route_" + path.strip("/"), None)
                if route is None:
                    self.respond(404, ["Content-Type: text/plain"], b"no such route")
                else:
                    route(q, query, raw, body, proxied, headers)
                answered += 1
                if not self.keep:
                    return
        except (BrokenPipeError, ConnectionResetError):
            pass

    # -- routes --------------------------------------------------------------

    def route_body(self, q, query, raw, request_body, proxied, headers):
        if q("text") is not None:
            body = q("text").encode("utf-8")
        elif q("hex") is not None:
            body = bytes.fromhex(q("hex"))
        else:
            body = pattern_bytes(int(q("size", "0")))
        head = []
        if q("gzip") == "1":
            body = gzip.compress(body)
            head.append("Content-Encoding: gzip")
        if q("type"):
            head.append("Content-Type: " + q("type"))
        for cookie in query.get("cookie", []):
            head.append("Set-Cookie: " + cookie)
        for line in query.get("hdr", []):
            head.append(line)
        length = q("len", "auto")
        chunked = q("chunked") == "1"
        if chunked:
            head.append("Transfer-Encoding: chunked")
        elif length == "auto":
            head.append("Content-Length: %d" % len(body))
        elif length != "none":
            head.append("Content-Length: " + length)
        if q("cut") is not None or (length == "none" and not chunked):
            self.keep = False  # the end of this body is the end of the connection
        hold = int(q("hold", "0"))
        if hold:
            time.sleep(hold / 1000)
        status = int(q("status", "200"))
        self.send(("HTTP/1.1 %d X\r\n" % status + "".join(h + "\r\n" for h in head)
                   + self.closing() + "\r\n").encode("latin-1"))
        if q("cut") is not None:
            body = body[: int(q("cut"))]
        offsets = [int(x) for x in q("pieces", "").split(",") if x]
        gap = int(q("gap", "0")) / 1000
        pieces, start = [], 0
        for at in offsets + [len(body)]:
            pieces.append(body[start:at])
            start = at
        for i, piece in enumerate(pieces):
            if i and gap:
                time.sleep(gap)
            if chunked:
                if piece:
                    self.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
            else:
                self.send(piece)
        if chunked and q("cut") is None:
            self.send(b"0\r\n\r\n")

    def route_echo(self, q, query, raw, request_body, proxied, headers):
        prefix = b"PROXIED\r\n" if proxied else b""
        self.respond(200, ["Content-Type: text/plain"], prefix + raw + request_body)

    def route_redirect(self, q, query, raw, request_body, proxied, headers):
        self.respond(int(q("code", "302")), ["Location: " + q("to")], b"moved")

    def route_loop(self, q, query, raw, request_body, proxied, headers):
        n = int(q("n", "0"))
        self.respond(302, ["Location: /loop?n=%d&key=%s" % (n + 1, q("key", ""))], b"again")

    def route_count(self, q, query, raw, request_body, proxied, headers):
        with HITS_LOCK:
            seen = HITS.get(q("key"), 0)
        if seen <= int(q("fail", "0")):
            self.respond(int(q("failstatus", "200")), ["Content-Type: text/plain"], b"RETRY")
        else:
            self.respond(200, ["Content-Type: text/plain"], q("text", "").encode("utf-8"))

    def route_hits(self, q, query, raw, request_body, proxied, headers):
        with HITS_LOCK:
            seen = HITS.get(q("key"), 0)
        self.respond(200, ["Content-Type: text/plain"], str(seen).encode("ascii"))

    def route_conns(self, q, query, raw, request_body, proxied, headers):
        with HITS_LOCK:
            seen = len(CONNS.get(q("of"), ()))
        self.respond(200, ["Content-Type: text/plain"], str(seen).encode("ascii"))

    def route_endless(self, q, query, raw, request_body, proxied, headers):
        self.send(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n")
        block = b"x" * 65536
        while True:
            self.send(block)

    def route_bomb(self, q, query, raw, request_body, proxied, headers):
        body = make_bomb(int(q("mb", "64")))
        self.respond(200, ["Content-Type: text/html", "Content-Encoding: gzip"], body)

    def route_trickle(self, q, query, raw, request_body, proxied, headers):
        self.send(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
        gap = int(q("ms", "100")) / 1000
        piece = b"t" * int(q("bytes", "1"))
        end = time.monotonic() + float(q("for", "inf"))
        while time.monotonic() < end:
            self.send(piece)
            time.sleep(gap)

    def route_flood(self, q, query, raw, request_body, proxied, headers):
        self.send(b"HTTP/1.1 200 OK\r\n")
        line = b"X-Flood: " + b"f" * 1000 + b"\r\n"
        while True:
            self.send(line)

    def route_deaf(self, q, query, raw, request_body, proxied, headers):
        time.sleep(30)

    def route_silent(self, q, query, raw, request_body, proxied, headers):
        while self.request.recv(65536):
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    # Ends with its parent: the tests close our stdin when they are done.
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
