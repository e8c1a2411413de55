"""Local test sites: serves this folder on 127.0.0.1 at a free port and prints the port.

Pages are reached both as http://127.0.0.1:PORT/ and as http://localhost:PORT/, which the
browser engine treats as two different origins: enough for cross-origin frames without the
internet. The same pages answer at http://127.0.0.2:PORT/ too: a host the shell counts as an
outside site.
"""

import http.server
import os
import sys
import threading


ONCE_REQUESTS = [0]


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
        return super().do_GET()

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
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
