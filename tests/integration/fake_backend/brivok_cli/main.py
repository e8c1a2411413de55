"""Serves FAKE_PAGE (HTML) at / with a session cookie, answers /api/* for the page, has never
a native job for the shell, and appends one line per request to the file FAKE_REQUESTS."""

import os
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOKEN = os.environ.get("BRIVOK_DESKTOP_TOKEN", "")
PAGE = os.environ.get("FAKE_PAGE", "<title>Fake</title><p>fake backend</p>").encode()
LOCK = threading.Lock()


def record(line):
    path = os.environ.get("FAKE_REQUESTS")
    if path:
        with LOCK, open(path, "a") as f:
            f.write(line + "\n")


class Handler(BaseHTTPRequestHandler):
    def log_message(self, format, *args):
        pass

    def reply(self, status, body, content_type="application/json", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self, method):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        cookie = "cookie" if "fake_session=1" in (self.headers.get("Cookie") or "") else "-"
        record("%s %s %s" % (method, self.path, cookie))
        if self.path == "/":
            return self.reply(200, PAGE, "text/html; charset=utf-8",
                              [("Set-Cookie", "fake_session=1; Path=/; HttpOnly")])
        if self.path.startswith("/api/native/"):
            if self.headers.get("Authorization") != "Bearer " + TOKEN:
                return self.reply(401, b"{}")
            time.sleep(0.3)  # a long poll that ends with nothing to do
            return self.reply(200, b"{}")
        if self.path.startswith("/api/"):
            return self.reply(200, b'{"ok": true}')
        return self.reply(404, b"{}")

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")


def main():
    if sys.argv[1:2] != ["desktop"]:
        return 2
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    os.write(1, ("BRIVOK_READY http://127.0.0.1:%d/\n" % server.server_address[1]).encode())
    server.serve_forever(0.2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
