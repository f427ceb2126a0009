#!/usr/bin/env python3
"""A TCP relay on loopback that delays every byte by a fixed time in each direction, so that a
local server looks like a far one: with --delay-ms 25, each round trip through it takes 50 ms more.

Bytes keep their order and are never held back longer than the delay (a chunk read at time t is
written at t + delay, whatever came before it), so the relay adds latency, not a bandwidth limit.

With --ftp, the control connection's passive-mode replies (227 and 229) are rewritten to point
at a relay of their own, so FTP data connections cross the same delay. After "234" (AUTH TLS
accepted) the control connection is encrypted and is relayed as it is: its data connections
then go to the server directly.

Usage: delay_proxy.py --target-port N [--delay-ms 25] [--ftp] [--port-file FILE]
Listens on 127.0.0.1 on a free port, writes it to --port-file (or stdout), runs until killed.
"""
import argparse
import asyncio
import re
import sys
import time

HOST = "127.0.0.1"

PASV = re.compile(rb"^227 [^(]*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")
EPSV = re.compile(rb"^229 [^(]*\(\|\|\|(\d+)\|\)")


class DelayedWriter:
    """Writes each chunk `delay` seconds after it was handed over, in order."""

    def __init__(self, writer, delay):
        self.writer = writer
        self.delay = delay
        self.queue = asyncio.Queue()
        self.task = asyncio.ensure_future(self.run())

    def send(self, data):
        self.queue.put_nowait((time.monotonic() + self.delay, data))

    def close(self):
        self.queue.put_nowait((time.monotonic() + self.delay, None))

    async def run(self):
        try:
            while True:
                due, data = await self.queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if data is None:
                    break
                self.writer.write(data)
                await self.writer.drain()
        except (ConnectionError, OSError):
            pass
        finally:
            try:
                if self.writer.can_write_eof():
                    self.writer.write_eof()
            except (ConnectionError, OSError, RuntimeError):
                pass
            self.writer.close()


async def pump(reader, out, rewrite=None):
    buffered = b""
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if rewrite is None or rewrite.plain is False:
                if buffered:
                    out.send(buffered)
                    buffered = b""
                out.send(data)
                continue
            buffered += data
            while b"\n" in buffered:
                line, buffered = buffered.split(b"\n", 1)
                out.send(await rewrite(line + b"\n"))
                if rewrite.plain is False and buffered:
                    out.send(buffered)
                    buffered = b""
    except (ConnectionError, OSError):
        pass
    finally:
        if buffered:
            out.send(buffered)
        out.close()


class FtpReplies:
    """Rewrites passive-mode replies to relays of their own; stops at AUTH TLS's 234."""

    def __init__(self, delay):
        self.delay = delay
        self.plain = True

    async def __call__(self, line):
        if line.startswith(b"234"):
            self.plain = False
            return line
        m = PASV.match(line)
        if m:
            port = int(m.group(5)) * 256 + int(m.group(6))
            mine = await relay(port, self.delay, once=True)
            return b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
        m = EPSV.match(line)
        if m:
            mine = await relay(int(m.group(1)), self.delay, once=True)
            return b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
        return line


async def relay(target_port, delay, ftp=False, once=False, port=0):
    """Starts a delaying relay to target_port; returns the port it listens on."""
    server = None

    async def handle(client_reader, client_writer):
        if once:
            server.close()
        try:
            server_reader, server_writer = await asyncio.open_connection(HOST, target_port)
        except OSError:
            client_writer.close()
            return
        to_server = DelayedWriter(server_writer, delay)
        to_client = DelayedWriter(client_writer, delay)
        await asyncio.gather(pump(client_reader, to_server),
                             pump(server_reader, to_client, FtpReplies(delay) if ftp else None))
        await asyncio.gather(to_server.task, to_client.task)

    server = await asyncio.start_server(handle, HOST, port)
    return server.sockets[0].getsockname()[1]


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target-port", type=int, required=True)
    p.add_argument("--delay-ms", type=float, default=25.0)
    p.add_argument("--ftp", action="store_true")
    p.add_argument("--port-file")
    a = p.parse_args()
    port = await relay(a.target_port, a.delay_ms / 1000.0, ftp=a.ftp)
    if a.port_file:
        tmp = a.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(port))
        import os
        os.replace(tmp, a.port_file)
    else:
        print(port, flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
