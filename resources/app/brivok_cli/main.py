"""Command line of the reference backend: `desktop` serves the shell's page."""

import argparse
import os
import signal
import sys

from . import __version__
from .server import log, make_server, watch_parent


def run_desktop(port):
    token = os.environ.get("BRIVOK_DESKTOP_TOKEN", "")
    if not token:
        log("BRIVOK_DESKTOP_TOKEN is not set; the local interface will refuse every request.")
    server = make_server(token, port)
    address = "http://127.0.0.1:%d/" % server.server_address[1]

    class Stop(Exception):
        """Raised in the main thread by SIGTERM or SIGINT: ends serve_forever at once."""

    def stop(*_):
        signal.signal(signal.SIGTERM, signal.SIG_IGN)  # once is enough; a second waits for it
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        server.service.jobs.close()  # waiting polls answer now, so their threads end too
        raise Stop()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    parent = os.environ.get("BRIVOK_PARENT_PID", "")
    if parent.isdigit() and int(parent) > 1:
        watch_parent(int(parent), lambda: os.kill(os.getpid(), signal.SIGTERM))

    log("Brivok backend %s listening on %s" % (__version__, address))
    # Prefix and address in one write, so the shell never sees half an announcement.
    os.write(sys.stdout.fileno(), ("BRIVOK_READY %s\n" % address).encode())
    try:
        server.serve_forever(poll_interval=0.5)
    except Stop:
        pass
    finally:
        server.server_close()
    log("Brivok backend stopped.")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="brivok", description="Brivok agents and schedules.")
    parser.add_argument("--version", action="version", version="brivok " + __version__)
    commands = parser.add_subparsers(dest="command")
    desktop = commands.add_parser("desktop", help="serve the desktop application's page")
    desktop.add_argument("--port", type=int, default=0)
    args = parser.parse_args(argv)
    if args.command == "desktop":
        if not 0 <= args.port <= 65535:
            parser.error("the port must be between 0 and 65535")
        return run_desktop(args.port)
    parser.print_help()
    return 0


if __name__ == "__main__":
    sys.exit(main())
