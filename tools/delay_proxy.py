#!/usr/bin/env python3
"""A TCP proxy on loopback that delays every byte by half a round trip each
way, to give the tests and the benchmark a slow link (the kernel here has no
netem). It is a delay line: reading goes on while what was read waits out its
delay, so a long transfer costs one delay, not one per chunk. With a rate it
is also a bottleneck of that many Mbit/s each way, as a link of that speed:
each byte leaves after the bytes before it and then waits out the delay.

  delay_proxy.py [--hide-capa NAME] [--rate MBIT] LISTEN_PORT_OR_0 TARGET_HOST TARGET_PORT RTT_MS
      prints PORT=NNNN once listening, runs until SIGTERM or SIGINT;
      --hide-capa drops a line such as PIPELINING from the server's first
      multi-line reply (its CAPA list), to play a server without it
  delay_proxy.py --measure RTT_MS [MBIT]
      a request/response round trip and a 5 MB transfer through the proxy

In Python:
  with DelayProxy("127.0.0.1", 110, 50) as p:   # or p = DelayProxy(..).start(); p.stop()
      connect to ("127.0.0.1", p.port)
"""
import argparse
import asyncio
import collections
import ipaddress
import signal
import socket
import sys
import threading
import time

# A line holding more than this pauses its reader until it has sent half.
QUEUE_LIMIT = 16 << 20
# A timer may fire a little before its time; treat that as due.
EARLY = 1e-4
# With a rate, data is paced in slices of this many bytes.
SLICE = 8192


def _require_loopback(host):
    address = ipaddress.ip_address(socket.gethostbyname(host))
    if not address.is_loopback:
        raise ValueError("%s is not a loopback address" % host)


class _Side(asyncio.Protocol):
    """One end of a proxied connection (the client's or the server's)."""

    def __init__(self, pair):
        self.pair = pair
        self.transport = None
        self.out = None  # the _Line carrying what this side receives
        self.closed = False
        self.holds = set()  # why reading is paused
        self.filter = None

    def connection_made(self, transport):
        self.transport = transport
        transport.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.holds:
            transport.pause_reading()

    def data_received(self, data):
        if self.filter:
            data = self.filter(data)
        if data:
            self.out.push(data)

    def eof_received(self):
        if self.filter:
            self.out.push(self.filter.rest())
        self.out.push(None)
        return True  # keep our half open: the other way may still carry data

    def connection_lost(self, exc):
        self.closed = True
        self.out.push(None)  # no-op after a proper EOF
        self.pair.side_lost(self)

    # The transport we write to is full: stop reading what would fill it more.
    def pause_writing(self):
        self.pair.peer_of(self).pause("full")

    def resume_writing(self):
        self.pair.peer_of(self).resume("full")

    def pause(self, why):
        if not self.holds and self.transport and not self.closed:
            self.transport.pause_reading()
        self.holds.add(why)

    def resume(self, why):
        self.holds.discard(why)
        if not self.holds and self.transport and not self.closed:
            self.transport.resume_reading()


class _CapaFilter:
    """Drops the named capabilities from the first multi-line reply; the
    client asks CAPA right after the greeting, so that reply is the list."""

    def __init__(self, names):
        self.names = {n.upper().encode() for n in names}
        self.pending = b""
        self.passing = False

    def __call__(self, data):
        if self.passing:
            return data
        self.pending += data
        out = []
        while not self.passing:
            end = self.pending.find(b"\n")
            if end < 0:
                break
            line, self.pending = self.pending[:end + 1], self.pending[end + 1:]
            if line.rstrip(b"\r\n").upper() not in self.names:
                out.append(line)
            self.passing = line == b".\r\n"
        if self.passing:
            out.append(self.pending)
            self.pending = b""
        return b"".join(out)

    def rest(self):
        rest, self.pending = self.pending, b""
        return rest


class _Line:
    """One direction: chunks stamped on arrival, written when due, in order."""

    def __init__(self, loop, delay, src, dst, pair, rate=None):
        self.loop, self.delay, self.src, self.dst, self.pair = loop, delay, src, dst, pair
        self.rate = rate  # bytes per second, or None
        self.free_at = 0.0  # when the bottleneck has sent what it holds
        self.queue = collections.deque()
        self.queued = 0
        self.timer = None
        self.ended = False  # EOF pushed
        self.done = False   # EOF delivered, or nothing can be delivered any more
        self.held = False

    def push(self, data):
        if self.ended or self.done:
            return
        if data is None:
            self.ended = True
        else:
            self.queued += len(data)
            if self.queued > QUEUE_LIMIT and not self.held:
                self.held = True
                self.src.pause("queue")
        now = self.loop.time()
        if data is None or not self.rate:
            self.queue.append((max(now, self.free_at) + self.delay, data))
        else:
            for at in range(0, len(data), SLICE):
                piece = data[at:at + SLICE]
                self.free_at = max(now, self.free_at) + len(piece) / self.rate
                self.queue.append((self.free_at + self.delay, piece))
        if self.timer is None:
            self.timer = self.loop.call_at(self.queue[0][0], self._flush)

    def _flush(self):
        self.timer = None
        if self.done:
            return
        now = self.loop.time() + EARLY
        chunks = []
        eof = False
        while self.queue and self.queue[0][0] <= now:
            _, data = self.queue.popleft()
            if data is None:
                eof = True
                break
            chunks.append(data)
        if chunks and not self.dst.closed:
            data = b"".join(chunks)
            self.queued -= len(data)
            self.dst.transport.write(data)
        if self.held and self.queued <= QUEUE_LIMIT // 2:
            self.held = False
            self.src.resume("queue")
        if eof:
            self.finish()
        elif self.queue:
            self.timer = self.loop.call_at(self.queue[0][0], self._flush)

    def finish(self):
        """Delivers the end: a half-close after everything before it."""
        if self.done:
            return
        self.done = True
        self.queue.clear()
        if self.timer:
            self.timer.cancel()
            self.timer = None
        if self.dst.transport and not self.dst.closed and self.dst.transport.can_write_eof():
            try:
                self.dst.transport.write_eof()
            except OSError:
                pass  # the other side has gone already (ENOTCONN)
        self.pair.line_done()

    def drop(self):
        """The destination is gone: what waits can never be delivered."""
        self.queue.clear()
        self.queued = 0
        if self.timer:
            self.timer.cancel()
            self.timer = None
        if not self.done:
            self.done = True
            self.pair.line_done()


class _Pair:
    def __init__(self, proxy):
        self.proxy = proxy
        loop = proxy.loop
        self.client = _Side(self)
        self.client.holds.add("connect")  # nothing is read before the server is there
        self.server = _Side(self)
        if proxy.hide_capabilities:
            self.server.filter = _CapaFilter(proxy.hide_capabilities)
        half = proxy.rtt / 2
        self.up = _Line(loop, half, self.client, self.server, self, proxy.rate)
        self.down = _Line(loop, half, self.server, self.client, self, proxy.rate)
        self.client.out = self.up
        self.server.out = self.down
        self.closing = False

    def peer_of(self, side):
        return self.server if side is self.client else self.client

    def side_lost(self, side):
        # Nothing more reaches a side that is gone; what it sent still goes.
        (self.down if side is self.client else self.up).drop()

    def line_done(self):
        if self.up.done and self.down.done:
            self.close()

    def close(self):
        if self.closing:
            return
        self.closing = True
        self.up.drop()
        self.down.drop()
        for side in (self.client, self.server):
            if side.transport and not side.closed:
                side.transport.close()
        self.proxy.pairs.discard(self)

    async def connect(self):
        try:
            await self.proxy.loop.create_connection(lambda: self.server, self.proxy.target_host,
                                                    self.proxy.target_port)
        except OSError:
            self.close()
            return
        if self.client.closed or self.closing:
            self.server.transport.close()  # the client left while we connected
            self.close()
        else:
            self.client.resume("connect")


class DelayProxy:
    """The proxy on an event loop of its own thread: start(), .port, stop()."""

    def __init__(self, target_host, target_port, rtt_ms, listen_port=0, listen_host="127.0.0.1",
                 hide_capabilities=(), rate_mbit=None):
        _require_loopback(listen_host)
        _require_loopback(target_host)
        self.target_host, self.target_port = target_host, int(target_port)
        self.rtt = float(rtt_ms) / 1000.0
        self.listen_host, self.listen_port = listen_host, int(listen_port)
        self.hide_capabilities = tuple(hide_capabilities)
        self.rate = rate_mbit * 1e6 / 8 if rate_mbit else None
        self.port = None
        self.connections = 0  # accepted so far
        self.pairs = set()
        self.loop = None
        self._server = None
        self._thread = None

    def _accept(self):
        pair = _Pair(self)
        self.pairs.add(pair)
        self.connections += 1
        self.loop.create_task(pair.connect())
        return pair.client

    async def open(self):
        """Starts listening on the running loop (for callers with a loop of their own)."""
        self.loop = asyncio.get_running_loop()
        self._server = await self.loop.create_server(self._accept, self.listen_host, self.listen_port,
                                                     reuse_address=True)
        self.port = self._server.sockets[0].getsockname()[1]
        return self.port

    async def aclose(self):
        if self._server:
            self._server.close()
            await self._server.wait_closed()
        for pair in list(self.pairs):
            pair.close()
        await asyncio.sleep(0)

    def start(self):
        ready = threading.Event()
        failure = []

        def run():
            loop = asyncio.new_event_loop()
            try:
                loop.run_until_complete(self.open())
            except Exception as e:  # reported to the starting thread
                failure.append(e)
                ready.set()
                loop.close()
                return
            ready.set()
            loop.run_forever()
            loop.run_until_complete(self.aclose())
            loop.close()

        self._thread = threading.Thread(target=run, name="delay-proxy", daemon=True)
        self._thread.start()
        ready.wait()
        if failure:
            raise failure[0]
        return self

    def stop(self):
        if self._thread and self.loop and self.loop.is_running():
            self.loop.call_soon_threadsafe(self.loop.stop)
        if self._thread:
            self._thread.join(10)
            self._thread = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def serve_forever(listen_port, target_host, target_port, rtt_ms, hide_capabilities=(), rate_mbit=None):
    async def main():
        proxy = DelayProxy(target_host, target_port, rtt_ms, listen_port, hide_capabilities=hide_capabilities,
                           rate_mbit=rate_mbit)
        port = await proxy.open()
        print("PORT=%d" % port, flush=True)
        stop = asyncio.Event()
        for sig in (signal.SIGTERM, signal.SIGINT):
            asyncio.get_running_loop().add_signal_handler(sig, stop.set)
        await stop.wait()
        await proxy.aclose()

    asyncio.run(main())


def measure(rtt_ms, size=5 << 20, rate_mbit=None):
    """Round trip of a small request and time of a large transfer through the proxy."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def serve():
        # first connection: echo lines; second: send `size` bytes on request, then close
        for mode in ("echo", "bulk"):
            c, _ = listener.accept()
            with c:
                c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                f = c.makefile("rb")
                for line in f:
                    if mode == "echo":
                        c.sendall(line)
                    else:
                        c.sendall(b"x" * size)
                        c.shutdown(socket.SHUT_WR)
                        break

    threading.Thread(target=serve, daemon=True).start()
    with DelayProxy("127.0.0.1", listener.getsockname()[1], rtt_ms, rate_mbit=rate_mbit) as proxy:
        with socket.create_connection(("127.0.0.1", proxy.port)) as c:
            c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            times = []
            for i in range(10):
                t0 = time.perf_counter()
                c.sendall(b"ping %d\n" % i)
                got = b""
                while not got.endswith(b"\n"):
                    got += c.recv(100)
                times.append(time.perf_counter() - t0)
        times.sort()
        with socket.create_connection(("127.0.0.1", proxy.port)) as c:
            t0 = time.perf_counter()
            c.sendall(b"go\n")
            received = chunks = 0
            while True:
                data = c.recv(1 << 16)
                if not data:
                    break
                received += len(data)
                chunks += 1
            took = time.perf_counter() - t0
    listener.close()
    return {"rtt_ms": times[len(times) // 2] * 1000, "rtt_min_ms": times[0] * 1000,
            "rtt_max_ms": times[-1] * 1000, "bytes": received, "transfer_s": took, "chunks": chunks}


def main(argv):
    if len(argv) in (2, 3) and argv[0] == "--measure":
        rate = float(argv[2]) if len(argv) == 3 else None
        m = measure(float(argv[1]), rate_mbit=rate)
        print("delay proxy at %s ms%s: round trip %.1f ms (min %.1f, max %.1f); %.1f MB in %.3f s "
              "(%.1f Mbit/s; %d reads; one delay per read would take %.1f s)"
              % (argv[1], " and %g Mbit/s" % rate if rate else "", m["rtt_ms"], m["rtt_min_ms"], m["rtt_max_ms"],
                 m["bytes"] / 1e6, m["transfer_s"], m["bytes"] * 8 / 1e6 / m["transfer_s"], m["chunks"],
                 m["chunks"] * float(argv[1]) / 2000))
        return
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--hide-capa", action="append", default=[])
    parser.add_argument("--rate", type=float, default=None, help="Mbit/s each way")
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_host")
    parser.add_argument("target_port", type=int)
    parser.add_argument("rtt_ms", type=float)
    a = parser.parse_args(argv)
    serve_forever(a.listen_port, a.target_host, a.target_port, a.rtt_ms, a.hide_capa, a.rate)


if __name__ == "__main__":
    main(sys.argv[1:])
