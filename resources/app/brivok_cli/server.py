"""HTTP service of the reference backend: the desktop page and its local interface."""

import hmac
import json
import os
import secrets
import sys
import threading
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

from .jobs import JobQueue

WEB_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "web")
STATIC = {
    "/": ("index.html", "text/html; charset=utf-8"),
    "/app.js": ("app.js", "text/javascript; charset=utf-8"),
    "/style.css": ("style.css", "text/css; charset=utf-8"),
}
SESSION_COOKIE = "brivok_session"
LONG_POLL_SECONDS = 25.0
MAX_BODY = 1024 * 1024


def log(message):
    sys.stderr.write(message + "\n")
    sys.stderr.flush()


class Service:
    """State shared by every request of one run."""

    def __init__(self, token, long_poll=LONG_POLL_SECONDS):
        self.token = token or ""
        self.session = secrets.token_urlsafe(32)
        self.jobs = JobQueue()
        self.long_poll = long_poll
        self.port = 0

    def allowed_hosts(self):
        return {"127.0.0.1:%d" % self.port, "localhost:%d" % self.port}

    def bearer_ok(self, header):
        if not self.token or not header or not header.startswith("Bearer "):
            return False
        return hmac.compare_digest(header[len("Bearer "):].encode(), self.token.encode())

    def session_ok(self, cookie_header):
        if not cookie_header:
            return False
        for part in cookie_header.split(";"):
            name, _, value = part.strip().partition("=")
            if name == SESSION_COOKIE and hmac.compare_digest(value.encode(),
                                                              self.session.encode()):
                return True
        return False


class Handler(BaseHTTPRequestHandler):
    server_version = "Brivok"
    sys_version = ""
    protocol_version = "HTTP/1.1"

    @property
    def service(self):
        return self.server.service

    def log_message(self, format, *args):  # requests are not logged: they may carry secrets
        pass

    # -- plumbing -------------------------------------------------------------------------

    def send_json(self, status, payload, extra_headers=()):
        body = json.dumps(payload, separators=(",", ":")).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def read_json(self):
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            return None
        if length < 0 or length > MAX_BODY:
            return None
        raw = self.rfile.read(length) if length else b""
        try:
            return json.loads(raw.decode("utf-8")) if raw else None
        except (UnicodeDecodeError, ValueError):
            return None

    def host_ok(self):
        return self.headers.get("Host", "") in self.service.allowed_hosts()

    def authorised(self):
        if self.service.bearer_ok(self.headers.get("Authorization")):
            return True
        if not self.service.session_ok(self.headers.get("Cookie")):
            return False
        # The page's session is honoured only from the page's own origin.
        origin = self.headers.get("Origin")
        if origin is not None and urlsplit(origin).netloc not in self.service.allowed_hosts():
            return False
        return True

    def guard(self):
        """Refuses requests for another host name and unauthorised interface calls."""
        if not self.host_ok():
            self.send_json(HTTPStatus.UNAUTHORIZED, {"error": "unknown host"})
            return False
        if self.path.startswith("/api/") and not self.authorised():
            self.send_json(HTTPStatus.UNAUTHORIZED, {"error": "not authorised"})
            return False
        return True

    # -- requests -------------------------------------------------------------------------

    def do_GET(self):
        if not self.guard():
            return
        path = urlsplit(self.path).path
        if path in STATIC:
            return self.serve_static(path)
        if path == "/api/native/next":
            job = self.service.jobs.next(self.service.long_poll)
            return self.send_json(HTTPStatus.OK, {"job": job} if job else {})
        if path == "/api/jobs":
            return self.send_json(HTTPStatus.OK, {"jobs": self.service.jobs.list()})
        if path == "/api/status":
            return self.send_json(HTTPStatus.OK, {"ok": True})
        self.send_json(HTTPStatus.NOT_FOUND, {"error": "not found"})

    def do_POST(self):
        if not self.guard():
            return
        path = urlsplit(self.path).path
        body = self.read_json()
        if path == "/api/native/done":
            recorded = self.service.jobs.done(body)
            return self.send_json(HTTPStatus.OK, {"ok": recorded})
        if path == "/api/jobs":
            job = job_from_request(body)
            if job is None:
                return self.send_json(HTTPStatus.BAD_REQUEST, {"error": "bad job"})
            return self.send_json(HTTPStatus.OK, {"job": self.service.jobs.add(**job)})
        if path == "/api/page/state":
            if isinstance(body, dict):
                log("page: native=%s prefs=%s" % (
                    json.dumps(body.get("native")),
                    json.dumps(body.get("prefs"), sort_keys=True, separators=(",", ":"))))
            return self.send_json(HTTPStatus.OK, {"ok": True})
        self.send_json(HTTPStatus.NOT_FOUND, {"error": "not found"})

    def serve_static(self, path):
        name, content_type = STATIC[path]
        try:
            with open(os.path.join(WEB_DIR, name), "rb") as f:
                body = f.read()
        except OSError:
            return self.send_json(HTTPStatus.NOT_FOUND, {"error": "not found"})
        self.send_response(HTTPStatus.OK)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Content-Security-Policy",
                         "default-src 'self'; frame-ancestors 'none'; object-src 'none'")
        if path == "/":
            self.send_header("Set-Cookie", "%s=%s; Path=/; HttpOnly; SameSite=Strict"
                             % (SESSION_COOKIE, self.service.session))
        self.end_headers()
        self.wfile.write(body)


def job_from_request(body):
    """A render or sign-in job asked for by the page or a script, or None when malformed."""
    if not isinstance(body, dict) or body.get("kind") not in ("render", "signin"):
        return None
    url = body.get("url")
    if not isinstance(url, str) or not url.startswith(("http://", "https://")):
        return None
    job = {"kind": body["kind"], "url": url,
           "key": body["key"] if isinstance(body.get("key"), str) else ""}
    if body["kind"] == "render":
        cookies = body.get("cookies", [])
        if not isinstance(cookies, list) or not all(isinstance(c, dict) for c in cookies):
            return None
        job["cookies"] = cookies
    else:
        for name in ("username", "password", "login_pattern"):
            if isinstance(body.get(name), str) and body[name]:
                job[name] = body[name]
        domains = body.get("domains", [])
        if not isinstance(domains, list) or not all(isinstance(d, str) for d in domains):
            return None
        job["domains"] = domains
    return job


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_server(token, port=0, long_poll=LONG_POLL_SECONDS):
    service = Service(token, long_poll)
    server = Server(("127.0.0.1", port), Handler)
    server.service = service
    service.port = server.server_address[1]
    return server


def watch_parent(parent_pid, stop):
    """Stops the service within a second of the shell's death."""
    def gone():
        if os.getppid() != parent_pid:
            return True
        try:
            os.kill(parent_pid, 0)
        except ProcessLookupError:
            return True
        except PermissionError:
            return False
        return False

    def run():
        event = threading.Event()
        while not event.wait(0.25):
            if gone():
                log("The desktop shell has gone; stopping.")
                stop()
                return

    threading.Thread(target=run, name="parent-watch", daemon=True).start()
