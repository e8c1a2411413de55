"""Local test sites: serves this folder on 127.0.0.1 at a free port and prints the port.

Pages are reached both as http://127.0.0.1:PORT/ and as http://localhost:PORT/, which the
browser engine treats as two different origins: enough for cross-origin frames without the
internet. The same pages answer at http://127.0.0.2:PORT/ too: a host the shell counts as an
outside site.
"""

import html
import http.server
import os
import urllib.parse
import sys
import threading
import time


ONCE_REQUESTS = [0]
LEAKS = []  # what pages sent to /leak
LOGIN = ("ann@example.com", "s3cret \"q\"")  # what the automatic sign-in must type


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=os.path.dirname(os.path.abspath(__file__)), **kwargs)

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        # /once counts the requests it gets (a one-time link); /count tells how many.
        if self.path.startswith("/once"):
            ONCE_REQUESTS[0] += 1
            return self.reply(b"<title>once</title>spent")
        if self.path == "/count":
            return self.reply(str(ONCE_REQUESTS[0]).encode())
        if self.path.startswith("/leak?"):
            LEAKS.append(self.path)
            return self.reply(b"")
        if self.path == "/leaks":
            return self.reply("\n".join(LEAKS).encode(), "text/plain")
        if self.path == "/basic":  # HTTP Basic authentication, as u:p
            if self.headers.get("Authorization") == "Basic dTpw":
                return self.reply(b"<title>Basic</title><p>authorized</p>")
            return self.reply(b"<title>Basic</title><p>denied</p>", status=401,
                              headers=[("WWW-Authenticate", 'Basic realm="test"')])
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/slow":  # answers after ?s= seconds
            time.sleep(min(float(query.get("s", ["2"])[0]), 10))
            return self.reply(b"<title>Slow</title><p>at last</p>")
        if url.path == "/redirect":  # /redirect?to=/page
            return self.redirect(query.get("to", ["/"])[0])
        if url.path == "/download":  # a response no browser shows: it would be saved
            return self.reply(b"\x00" * 4096, "application/octet-stream",
                              [("Content-Disposition", "attachment; filename=x.bin")])
        if url.path == "/needs-cookie":  # shows the handed cookie, if it came
            cookie = self.headers.get("Cookie") or "no cookie"
            return self.reply(("<title>Cookie</title><p>%s</p>" % html.escape(cookie)).encode())
        if url.path == "/auto-gate":  # the site itself: home when signed in, else its login
            signed_in = "session=ok" in (self.headers.get("Cookie") or "")
            return self.redirect("/auto-home.html" if signed_in else query.get("login", ["/login-one.html"])[0])
        if url.path == "/auto-submit":  # one login only; a step-two user comes as "user"
            user = (query.get("email") or query.get("user") or [""])[0]
            password = query.get("password", [""])[0]
            if (user, password) == LOGIN:
                return self.redirect("/auto-home.html",
                                     [("Set-Cookie", "session=ok; Path=/; Max-Age=3600")])
            return self.redirect(query.get("then", ["/login-verify.html"])[0])
        return super().do_GET()

    def redirect(self, to, headers=()):
        self.send_response(302)
        self.send_header("Location", to)
        self.send_header("Content-Length", "0")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def reply(self, body, content_type="text/html", headers=(), status=200):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    try:
        outside = http.server.ThreadingHTTPServer(("127.0.0.2", port), Handler)
        outside.daemon_threads = True
        threading.Thread(target=outside.serve_forever, args=(0.2,), daemon=True).start()
    except OSError:
        pass  # tests that need the outside host then fail to reach it
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    try:
        server.serve_forever(0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
