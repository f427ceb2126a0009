#!/usr/bin/python3
"""A telemetry ingestion service for the tests, on the Python standard library only.

Every test talks to its own tenant: it posts to http://127.0.0.1:PORT/t/<tenant>/logs?... (or
/t/<tenant>/EventCollector/1.0) and steers and reads that tenant through /_ctl/<tenant>/...:
  POST /_ctl/<tenant>/plan      a JSON list of answers for the next requests, used in order, e.g.
                                [{"status": 500}, {"status": 429, "retry_after": "2500"},
                                 {"hang": true}, {"drop": true}]; when the list is used up: 200
  GET  /_ctl/<tenant>/requests  every request so far: path, query, headers, the body (gzip
                                decoded), whether it came gzip'd, the answer given and any problems
                                with the headers the endpoint must send (answered 400)
A refused connection needs no server: the tests use a port bound without listening.
With --tls-port, --cert and --key the same service also answers HTTPS (a certificate of a
throw-away CA made at start).
"""
import argparse
import gzip
import http.server
import json
import select
import socket
import ssl
import threading
import urllib.parse

LOCK = threading.Lock()
PLANS = {}     # tenant -> list of answers still to give
REQUESTS = {}  # tenant -> list of recorded requests


def header_problems(kind, headers, query, gzipped, raw):
    problems = []
    if gzipped and not raw:
        problems.append("empty body marked gzip")
    if kind == "logs":
        if query.get("api-version") != ["1.0.0"]:
            problems.append("api-version is not 1.0.0")
        for name in ("App-Secret", "Install-ID"):
            if not headers.get(name):
                problems.append("no " + name)
        if headers.get("Content-Type") != "application/json":
            problems.append("Content-Type is " + str(headers.get("Content-Type")))
    elif kind == "collector":
        if headers.get("Content-Type") != "application/x-json-stream; charset=utf-8":
            problems.append("Content-Type is " + str(headers.get("Content-Type")))
        for name in ("Client-Version", "Upload-Time", "apikey"):
            if headers.get(name) is None:
                problems.append("no " + name)
    return problems


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *a):
        pass

    def answer(self, code, body=b"", headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = urllib.parse.urlsplit(self.path).path.strip("/").split("/")
        if len(parts) == 3 and parts[0] == "_ctl" and parts[2] == "requests":
            with LOCK:
                body = json.dumps(REQUESTS.get(parts[1], [])).encode()
            return self.answer(200, body, [("Content-Type", "application/json")])
        self.answer(200 if self.path == "/" else 404)

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.strip("/").split("/")
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length else b""
        if len(parts) == 3 and parts[0] == "_ctl" and parts[2] == "plan":
            with LOCK:
                PLANS[parts[1]] = json.loads(raw or b"[]")
            return self.answer(204)
        if len(parts) < 3 or parts[0] != "t":
            return self.answer(404)
        tenant = parts[1]
        rest = "/" + "/".join(parts[2:])
        kind = "logs" if rest == "/logs" else "collector" if rest == "/EventCollector/1.0" else "other"
        gzipped = self.headers.get("Content-Encoding") == "gzip"
        problems = []
        body = raw
        if gzipped and raw:
            try:
                body = gzip.decompress(raw)
            except Exception as e:  # noqa: BLE001 - reported to the test as a problem
                problems.append("bad gzip: %s" % e)
        query = urllib.parse.parse_qs(url.query)
        problems += header_problems(kind, self.headers, query, gzipped, raw)
        with LOCK:
            plan = PLANS.get(tenant, [])
            action = plan.pop(0) if plan else {"status": 200}
            record = {"path": rest, "query": url.query, "method": self.command,
                      "headers": {k: v for k, v in self.headers.items()},
                      "body": body.decode("utf-8", "replace"), "gzip": gzipped, "size": len(raw),
                      "problems": problems, "answer": action}
            REQUESTS.setdefault(tenant, []).append(record)
        if problems:
            return self.answer(400, json.dumps(problems).encode())
        if action.get("drop"):
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if action.get("hang"):
            # Keep the connection open without a word until the client gives up.
            while True:
                ready, _, _ = select.select([self.connection], [], [], 600)
                if not ready or not self.connection.recv(1, socket.MSG_PEEK):
                    break
            self.close_connection = True
            return
        headers = []
        if "retry_after" in action:
            headers.append(("x-tlm-retry-after-ms", action["retry_after"]))
        self.answer(int(action.get("status", 200)), action.get("body", "").encode(), headers)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--tls-port", type=int)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    if args.tls_port:
        tls = http.server.ThreadingHTTPServer(("127.0.0.1", args.tls_port), Handler)
        tls.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        tls.socket = context.wrap_socket(tls.socket, server_side=True)
        threading.Thread(target=tls.serve_forever, daemon=True).start()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
