"""The real shell binary with the real reference backend, on the test's virtual display.

Usage: test_shell.py PATH_TO_BRIVOK
"""

import http.client
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

BINARY = None
WRAPPER = None  # runs a command where no process may make namespaces
FAKE_BACKEND = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_backend", "brivok_cli")


def read(path, mode="r"):
    """The file's content; empty when it cannot be read."""
    try:
        with open(path, mode, **({} if "b" in mode else {"errors": "replace"})) as f:
            return f.read()
    except OSError:
        return b"" if "b" in mode else ""


def processes(zombies=False):
    """Every running (or only every zombie) process as (pid, pgid, ppid, environment, command
    line)."""
    found = []
    for name in filter(str.isdigit, os.listdir("/proc")):
        stat = read("/proc/%s/stat" % name)
        fields = stat[stat.rindex(")") + 2:].split() if ")" in stat else ["X"]
        if (fields[0] == "Z") != zombies or fields[0] == "X":
            continue
        found.append((int(name), int(fields[2]), int(fields[1]),
                      read("/proc/%s/environ" % name, "rb").split(b"\0"),
                      read("/proc/%s/cmdline" % name, "rb").split(b"\0")))
    return found


def wait_for(predicate, timeout=20.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


class Shell:
    """One run of the shell binary with a home of the test's own."""

    def __init__(self, root):
        self.root = root
        self.env = dict(os.environ,
                        HOME=os.path.join(root, "home"),
                        XDG_CONFIG_HOME=os.path.join(root, "config"),
                        XDG_STATE_HOME=os.path.join(root, "state"),
                        XDG_DATA_HOME=os.path.join(root, "data"),
                        XDG_CACHE_HOME=os.path.join(root, "cache"))
        os.makedirs(self.env["HOME"], exist_ok=True)
        self.proc = None
        self.binary = BINARY

    @property
    def log_path(self):
        return os.path.join(self.root, "state", "brivok", "backend.log")

    @property
    def settings_path(self):
        return os.path.join(self.root, "config", "brivok", "settings.json")

    def log(self):
        return read(self.log_path)

    def settings(self):
        with open(self.settings_path) as f:
            return json.load(f)

    def write_settings(self, value):
        os.makedirs(os.path.dirname(self.settings_path), exist_ok=True)
        with open(self.settings_path, "w") as f:
            f.write(value if isinstance(value, str) else json.dumps(value))

    def start(self, fresh_log=True, wrapper=(), stderr=subprocess.DEVNULL):
        # A report left by an earlier run in this home must not be taken for this run's.
        if fresh_log and os.path.exists(self.log_path):
            os.unlink(self.log_path)
        self.proc = subprocess.Popen([*wrapper, self.binary], env=self.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=stderr)
        return self

    def web_processes(self):
        """The shell's web processes (the sandbox puts a launcher in between)."""
        parents = {p[0]: p[2] for p in processes()}
        out = []
        for pid in parents:
            if read("/proc/%d/comm" % pid).strip() != "WebKitWebProces":
                continue
            up = parents.get(pid)
            for _ in range(8):
                if up in (None, 0, 1, self.proc.pid):
                    break
                up = parents.get(up)
            if up == self.proc.pid:
                out.append(pid)
        return out

    def page_reports(self):
        return [l for l in self.log().splitlines() if l.startswith("page: ")]

    def backends(self):
        """Backend processes started by any run of the shell in this home."""
        marker = ("HOME=%s" % self.env["HOME"]).encode()
        return [p for p in processes()
                if b"brivok_cli.main" in p[4] and marker in p[3]]

    def page_report(self, timeout=30):
        """The line the reference page logs once it has loaded in the shell."""
        line = wait_for(lambda: next((l for l in self.log().splitlines() if l.startswith("page: ")), None),
                        timeout)
        return line

    def api(self, method, path, body=None):
        """The backend's interface as its page uses it (the page's session cookie)."""
        address = next(l.split(" ", 1)[1] for l in self.log().splitlines()
                       if l.startswith("BRIVOK_READY "))
        base = urllib.parse.urlsplit(address.strip())
        conn = http.client.HTTPConnection(base.hostname, base.port, timeout=10)
        conn.request("GET", "/")
        page = conn.getresponse()
        page.read()
        cookie = page.getheader("Set-Cookie").split(";")[0]
        headers = {"Cookie": cookie, "Content-Type": "application/json"}
        conn.request(method, path, body=None if body is None else json.dumps(body), headers=headers)
        reply = conn.getresponse()
        payload = json.loads(reply.read() or b"null")
        conn.close()
        return address.strip(), payload

    def action(self, name):
        """Runs one of the application's menu actions, as the desktop does over the bus."""
        return subprocess.run(["gdbus", "call", "--session", "--dest", "app.brivok.Brivok",
                               "--object-path", "/app/brivok/Brivok", "--method",
                               "org.gtk.Actions.Activate", name, "[]", "{}"],
                              capture_output=True, text=True, timeout=10, env=self.env).returncode

    def record_opened(self):
        """Makes a recording program the desktop's handler of folders and files; returns the
        file that lists what it was handed."""
        record = os.path.join(self.root, "opened.txt")
        apps = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, "recorder.desktop"), "w") as f:
            # It also notes the token that lets it come to the front.
            f.write("[Desktop Entry]\nType=Application\nName=Recorder\nStartupNotify=true\n"
                    "Exec=/bin/sh -c 'echo \"$1\" >> %s; "
                    "echo \"${XDG_ACTIVATION_TOKEN:-$DESKTOP_STARTUP_ID}\" >> %s.tokens' sh %%u\n"
                    "MimeType=inode/directory;text/plain;text/x-log;\n" % (record, record))
        os.makedirs(self.env["XDG_CONFIG_HOME"], exist_ok=True)
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\ninode/directory=recorder.desktop\n"
                    "text/plain=recorder.desktop\ntext/x-log=recorder.desktop\n")
        return record

    def stop(self, sig=signal.SIGTERM, timeout=15):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                return self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise
        return self.proc.returncode if self.proc else None


def fake_install(root):
    """The shell laid out with the stand-in backend in place of the reference one."""
    prefix = os.path.join(root, "fake")
    os.makedirs(os.path.join(prefix, "bin"))
    binary = os.path.join(prefix, "bin", "brivok")
    try:
        os.link(BINARY, binary)
    except OSError:
        shutil.copy2(BINARY, binary)
    built = os.path.join(os.path.dirname(os.path.dirname(BINARY)), "share", "brivok")
    share = os.path.join(prefix, "share", "brivok")
    os.makedirs(os.path.join(share, "app"))
    for name in ("python", "site-packages"):
        os.symlink(os.path.join(built, name), os.path.join(share, name))
    os.symlink(FAKE_BACKEND, os.path.join(share, "app", "brivok_cli"))
    return binary


class RecordingProxy(http.server.ThreadingHTTPServer):
    """An HTTP proxy on a free port that answers every request itself and notes its address."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_GET(self):
            self.server.seen.append(self.path)
            self.send_response(200 if self.command != "CONNECT" else 502)
            self.send_header("Content-Length", "0")
            self.end_headers()

        do_POST = do_CONNECT = do_GET

    def __init__(self):
        super().__init__(("127.0.0.1", 0), self.Handler)
        self.daemon_threads, self.seen = True, []
        self.url = "http://127.0.0.1:%d" % self.server_address[1]
        threading.Thread(target=self.serve_forever, args=(0.1,), daemon=True).start()


class ShellTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="brivok-shell-")
        self.shells = []

    def tearDown(self):
        for shell in self.shells:
            if shell.proc and shell.proc.poll() is None:
                shell.proc.kill()
                shell.proc.wait()
            for pid, *_ in shell.backends():
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(self.root, ignore_errors=True)

    def shell(self):
        shell = Shell(self.root)
        self.shells.append(shell)
        return shell

    def fake_shell(self, page, **env):
        """A shell with the stand-in backend serving `page`; its requests are noted in a file."""
        shell = self.shell()
        shell.binary = fake_install(self.root) if not os.path.exists(
            os.path.join(self.root, "fake")) else os.path.join(self.root, "fake", "bin", "brivok")
        shell.requests = os.path.join(self.root, "requests-%d.txt" % len(self.shells))
        shell.env.update(FAKE_PAGE=page, FAKE_REQUESTS=shell.requests, **env)
        return shell

    def test_signals_end_the_shell_while_a_page_holds_a_modal_dialog(self):
        # A page's print dialog runs a loop of its own: quitting must not wait for it.
        page = "<title>Fake</title><script>setTimeout(() => print(), 200)</script>"
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig):
                shell = self.fake_shell(page).start()
                # Asked again until it answers: a search can fail outright while the last
                # run's dialog is being taken down.
                def dialog():
                    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                           "^Print$"], capture_output=True, text=True,
                                          env=shell.env, timeout=10).stdout.split()
                self.assertTrue(wait_for(dialog, 40, 0.2), "no print dialog came up")
                backends = shell.backends()
                self.assertEqual(len(backends), 1)
                started = time.monotonic()
                self.assertEqual(shell.stop(sig, timeout=10), 0)
                self.assertLess(time.monotonic() - started, 6.5)
                self.assertEqual([p for p in processes() if p[1] == backends[0][1]], [])

    def test_the_main_view_reaches_the_backend_directly(self):
        proxy = RecordingProxy()
        self.addCleanup(proxy.server_close)
        self.addCleanup(proxy.shutdown)  # cleanups run last-added first
        page = ("<title>Fake</title><script>fetch('/api/ping', {credentials: 'same-origin'});"
                "</script><iframe src='http://outside.invalid/frame'></iframe>")
        shell = self.fake_shell(page, http_proxy=proxy.url, https_proxy=proxy.url,
                                all_proxy=proxy.url, HTTP_PROXY=proxy.url, no_proxy="",
                                NO_PROXY="")

        def requests():
            return read(shell.requests).splitlines()
        shell.start()
        # The page, and its own call with the session cookie the page got, came straight here.
        self.assertTrue(wait_for(lambda: "GET /api/ping cookie" in requests(), 30), requests())
        self.assertIn("GET / -", requests())
        # An outside frame still follows the user's proxy, as a browser would.
        self.assertTrue(wait_for(lambda: any("outside.invalid" in p for p in proxy.seen), 20),
                        proxy.seen)
        self.assertFalse([p for p in proxy.seen if "127.0.0.1" in p or "localhost" in p],
                         proxy.seen)
        self.assertEqual(shell.stop(), 0)

    def test_page_preferences_and_frame_survive_a_restart_and_quit_leaves_nothing(self):
        shell = self.shell().start()
        self.assertEqual(shell.page_report(), "page: native=true prefs={}")
        backends = shell.backends()
        self.assertEqual(len(backends), 1)
        group = backends[0][1]
        self.assertEqual(group, backends[0][0])  # the backend leads its own group
        self.assertEqual(shell.stop(), 0)
        self.assertEqual([p for p in processes() if p[1] == group], [])
        self.assertIn("Brivok backend stopped.", shell.log())
        settings = shell.settings()
        self.assertGreater(settings["BrivokMain"]["width"], 0)  # the first run's frame is kept
        self.assertEqual(os.stat(shell.settings_path).st_mode & 0o777, 0o600)

        settings["BrivokWebPrefs"] = {"ui.theme": "dark", "n": "1"}
        settings["BrivokMain"] = {"x": 40, "y": 50, "width": 900, "height": 640}
        shell.write_settings(settings)
        shell = self.shell().start()
        self.assertEqual(shell.page_report(), 'page: native=true prefs={"n":"1","ui.theme":"dark"}')
        # A second launch brings this one forward and starts no backend of its own.
        log_before = shell.log()
        self.assertEqual(self.shell().start(fresh_log=False).proc.wait(15), 0)
        time.sleep(0.5)
        self.assertEqual(len(shell.backends()), 1)
        self.assertEqual(shell.log(), log_before)  # the running backend's log was not emptied
        self.assertIsNone(shell.proc.poll())
        # Quit in full screen (a window manager grants it), it keeps its own window's frame.
        manager = subprocess.Popen(["openbox"], env=shell.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(manager.wait)
        self.addCleanup(manager.kill)
        time.sleep(1)
        self.assertEqual(shell.action("full-screen"), 0)

        def xdotool(*args):
            return subprocess.run(["xdotool", *args], capture_output=True, text=True,
                                  env=shell.env).stdout
        screen = "Geometry: " + "x".join(xdotool("getdisplaygeometry").split())
        self.assertTrue(wait_for(lambda: screen in xdotool(
            "search", "--onlyvisible", "--class", "app.brivok.Brivok", "getwindowgeometry"), 10))
        time.sleep(0.6)  # past the wait before a moved or resized frame is saved
        self.assertEqual(shell.stop(), 0)
        settings = shell.settings()
        self.assertEqual(settings["BrivokWebPrefs"], {"ui.theme": "dark", "n": "1"})
        self.assertEqual((settings["BrivokMain"]["width"], settings["BrivokMain"]["height"]), (900, 640))

    def test_a_page_whose_web_process_is_killed_comes_back_but_never_in_a_loop(self):
        shell = self.shell().start()
        shell.page_report()
        mount = os.readlink("/proc/%d/ns/mnt" % shell.proc.pid)

        def kill_pages():
            pages = wait_for(shell.web_processes, 10)
            self.assertTrue(pages)
            for pid in pages:
                os.kill(pid, signal.SIGKILL)
        # In the engine's sandbox wherever the machine allows it, as this one does.
        sandbox = subprocess.run(["bwrap", "--unshare-pid", "--unshare-net", "--ro-bind", "/", "/",
                                  "--proc", "/proc", "--dev", "/dev", "true"],
                                 stderr=subprocess.DEVNULL).returncode == 0
        pages = wait_for(shell.web_processes, 10)
        self.assertEqual([os.readlink("/proc/%d/ns/mnt" % p) == mount for p in pages],
                         [not sandbox] * len(pages))
        kill_pages()
        self.assertTrue(wait_for(lambda: len(shell.page_reports()) == 2, 20), shell.log())
        kill_pages()  # again within a minute: the status page says so, the user reloads
        time.sleep(3)
        self.assertEqual(len(shell.page_reports()), 2)
        self.assertEqual(shell.action("reload"), 0)
        self.assertTrue(wait_for(lambda: len(shell.page_reports()) == 3, 20), shell.log())
        self.assertEqual(shell.stop(), 0)

    def test_where_no_sandbox_can_start_the_shell_runs_and_says_so_once(self):
        shell = self.shell()
        errors = os.path.join(self.root, "stderr.txt")
        with open(errors, "w") as err:
            shell.start(wrapper=(WRAPPER, "--no-namespaces"), stderr=err)
        self.assertEqual(shell.page_report(), "page: native=true prefs={}")
        mount = os.readlink("/proc/%d/ns/mnt" % shell.proc.pid)
        pages = wait_for(shell.web_processes, 10)
        self.assertTrue(pages)
        self.assertTrue(all(os.readlink("/proc/%d/ns/mnt" % p) == mount for p in pages))
        self.assertEqual(shell.stop(), 0)
        self.assertEqual(read(errors).count("without the web engine's sandbox"), 1, read(errors))

    def test_the_main_views_zoom_survives_a_restart(self):
        shell = self.shell().start()
        shell.page_report()
        self.assertEqual(shell.action("zoom-in"), 0)
        self.assertEqual(shell.action("zoom-in"), 0)
        self.assertTrue(wait_for(lambda: shell.settings().get("BrivokMainZoom") == 1.2, 5))
        self.assertEqual(shell.stop(), 0)
        shell = self.shell().start()
        shell.page_report()
        self.assertEqual(shell.action("zoom-out"), 0)  # one step down from where it was left
        self.assertTrue(wait_for(lambda: shell.settings().get("BrivokMainZoom") == 1.1, 5))
        self.assertEqual(shell.stop(), 0)

    def test_a_job_queued_at_the_backend_is_run_and_reported(self):
        shell = self.shell().start()
        shell.page_report()
        address, _ = shell.api("GET", "/api/jobs")
        # The shell reads the backend's own page off screen, as a browser shows it.
        _, queued = shell.api("POST", "/api/jobs", {"kind": "render", "url": address})
        job = wait_for(lambda: next((j for j in shell.api("GET", "/api/jobs")[1]["jobs"]
                                     if j["job"] == queued["job"] and j["state"] == "done"), None),
                       timeout=30)
        self.assertTrue(job, "the job was not reported")
        self.assertTrue(job["outcome"]["ok"], job)
        self.assertEqual(job["outcome"]["title"], "Brivok")
        # Off screen it is an ordinary page: none of the shell's page abilities.
        self.assertIn("Running in a browser", "\n".join(job["outcome"]["first_lines"]))
        self.assertEqual(shell.stop(), 0)

    def test_menu_commands_through_their_actions_and_keys(self):
        shell = self.shell()
        record = shell.record_opened()
        shell.start()
        shell.page_report()
        self.assertEqual(shell.action("open-home"), 0)
        self.assertEqual(shell.action("open-log"), 0)
        home = os.path.join(shell.env["HOME"], ".brivok")

        def opened():  # the handler gets local files as paths
            return [line.replace("file://", "", 1) for line in read(record).split()]
        # Each is handed to its own handler process: they may record in either order.
        self.assertTrue(wait_for(lambda: sorted(opened()) == sorted([home, shell.log_path])),
                        opened())
        self.assertTrue(os.path.isdir(home))
        # Handed over as the desktop expects, with a token each to come to the front by.
        tokens = read(record + ".tokens").split("\n")[:2]
        self.assertTrue(all(tokens) and len(tokens) == 2, tokens)

        # What the desktop started for them is gone, not left as zombies of the shell.
        def zombies():
            return [p for p in processes(zombies=True) if p[2] == shell.proc.pid]
        self.assertTrue(wait_for(lambda: not zombies(), 5), zombies())
        # Ctrl+Q, typed in the window, quits as closing it does: the backend goes too.
        xdo = dict(shell.env)
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--class",
                                 "app.brivok.Brivok"], capture_output=True, text=True,
                                env=xdo, timeout=10).stdout.split()
        self.assertTrue(window)
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=xdo, timeout=10)
        subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+q"], env=xdo, timeout=10)
        self.assertEqual(shell.proc.wait(15), 0)
        self.assertEqual(shell.backends(), [])

    def test_command_line_tool_from_an_install_path_with_a_space_and_a_dollar(self):
        build = os.path.dirname(os.path.dirname(BINARY))
        prefix = os.path.join(self.root, "my apps $HOME`x`")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       capture_output=True, timeout=120)
        shell = self.shell()
        shell.binary = os.path.join(prefix, "bin", "brivok")
        shell.start()
        shell.page_report()
        self.assertEqual(shell.action("install-cli"), 0)
        tool = os.path.join(shell.env["HOME"], ".local", "bin", "brivok")
        self.assertTrue(wait_for(lambda: os.path.exists(tool)))
        self.assertEqual(os.stat(tool).st_mode & 0o777, 0o755)
        run = subprocess.run([tool, "--version"], capture_output=True, text=True, timeout=30)
        self.assertEqual((run.returncode, run.stdout.strip()), (0, "brivok 0.1.0"), run.stderr)
        # Its modules were compiled at install: no start compiles them again.
        self.assertTrue(os.path.isdir(os.path.join(prefix, "share", "brivok", "app", "brivok_cli",
                                                   "__pycache__")))
        self.assertEqual(shell.stop(), 0)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    WRAPPER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
