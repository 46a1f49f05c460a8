#!/usr/bin/env python3
"""A loopback TCP relay that makes a server on this machine look far away.

  distance_relay.py --upstream HOST:PORT [--rtt-ms 80] [--rate-mbit 160]

Listens on a free loopback port and prints "PORT <n>" once it does. Each
connection it accepts is relayed to the upstream server with what distance
costs a download:

- a new connection carries no data for one round trip (the TCP handshake);
- every piece the client sends reaches the server half a round trip later
  (a request, and on https each flight of the TLS handshake);
- the server's answer is sent in rounds, as TCP slow start sends it: a first
  flight of 10 segments of 1,448 bytes, then one round trip before the next
  round, each round allowed as many bytes again as the last one delivered
  (doubling while the answer lasts); a connection idle for longer than a
  retransmission time-out (200 ms plus a round trip) starts over from 10
  segments, as Linux does after idle;
- all connections share one link of --rate-mbit.

The answer's own trip back is not added: each exchange costs the client half a
round trip plus the rounds its answer needs. Ends on SIGTERM or SIGINT and
prints "connections <n>" (connections accepted) on its way out.
"""
import argparse
import asyncio
import os
import signal
import time

SEGMENT = 1448
FIRST_FLIGHT = 10 * SEGMENT
SLICE = 16 * 1024  # bytes booked on the shared link at a time


class Link:
    """One shared link: each slice of bytes waits its turn at the rate."""

    def __init__(self, bytes_per_sec):
        self.rate = bytes_per_sec
        self.free_at = 0.0

    async def carry(self, n):
        now = time.monotonic()
        start = max(now, self.free_at)
        self.free_at = start + n / self.rate
        if self.free_at > now:
            await asyncio.sleep(self.free_at - now)


class Relay:
    def __init__(self, upstream, rtt, link):
        self.host, self.port = upstream
        self.rtt = rtt
        self.link = link
        self.connections = 0

    async def handle(self, client_reader, client_writer):
        self.connections += 1
        accepted = time.monotonic()
        ready = accepted + self.rtt
        try:
            server_reader, server_writer = await asyncio.open_connection(self.host, self.port)
        except OSError:
            client_writer.close()
            return
        up = asyncio.ensure_future(self.client_to_server(client_reader, server_writer, ready))
        down = asyncio.ensure_future(self.server_to_client(server_reader, client_writer))
        await asyncio.wait([up, down], return_when=asyncio.FIRST_COMPLETED)
        for task in (up, down):
            task.cancel()
        for writer in (client_writer, server_writer):
            writer.close()

    async def client_to_server(self, reader, writer, ready):
        # Pieces keep their order; each is due half a round trip after it
        # was sent, and none before the handshake is over.
        queue = asyncio.Queue()

        async def forward():
            while True:
                due, data = await queue.get()
                if data is None:
                    writer.write_eof()
                    return
                delay = due - time.monotonic()
                if delay > 0:
                    await asyncio.sleep(delay)
                writer.write(data)
                await writer.drain()

        sender = asyncio.ensure_future(forward())
        try:
            while True:
                data = await reader.read(65536)
                due = max(time.monotonic(), ready) + self.rtt / 2
                queue.put_nowait((due, data or None))
                if not data:
                    break
            await sender
        finally:
            sender.cancel()

    async def server_to_client(self, reader, writer):
        window = FIRST_FLIGHT
        round_start = None
        in_round = 0
        last_sent = 0.0
        while True:
            data = await reader.read(65536)
            if not data:
                return
            view = memoryview(data)
            while view:
                now = time.monotonic()
                if round_start is not None and now - last_sent > 0.2 + self.rtt:
                    window, round_start, in_round = FIRST_FLIGHT, None, 0
                if round_start is None or now >= round_start + self.rtt:
                    if round_start is not None and in_round >= window:
                        window *= 2
                    round_start, in_round = now, 0
                room = window - in_round
                if room <= 0:
                    await asyncio.sleep(round_start + self.rtt - now)
                    continue
                n = min(room, len(view), SLICE)
                await self.link.carry(n)
                writer.write(view[:n])
                await writer.drain()
                view = view[n:]
                in_round += n
                last_sent = time.monotonic()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream", required=True, help="HOST:PORT")
    parser.add_argument("--rtt-ms", type=float, default=80)
    parser.add_argument("--rate-mbit", type=float, default=160)
    args = parser.parse_args()
    host, _, port = args.upstream.rpartition(":")
    relay = Relay((host, int(port)), args.rtt_ms / 1000, Link(args.rate_mbit * 1e6 / 8))
    server = await asyncio.start_server(relay.handle, "127.0.0.1", 0, backlog=256)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    print("connections %d" % relay.connections, flush=True)
    # Connections still open are simply dropped.
    os._exit(0)


if __name__ == "__main__":
    asyncio.run(main())
