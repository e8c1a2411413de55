"""The reference backend: its launch contract, access rules and native-job interface."""

import http.client
import json
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
APP = os.path.join(HERE, "..", "..", "resources", "app")
sys.path.insert(0, APP)

from brivok_cli.jobs import JobQueue  # noqa: E402
from brivok_cli.server import make_server  # noqa: E402

TOKEN = "0123456789ABCDEF0123456789ABCDEF"


class ServerCase(unittest.TestCase):
    def setUp(self):
        self.server = make_server(TOKEN, long_poll=0.5)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, args=(0.05,), daemon=True)
        self.thread.start()

    def tearDown(self):
        self.server.service.jobs.close()
        self.server.shutdown()
        self.server.server_close()

    def request(self, method, path, body=None, headers=None, host=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        all_headers = {"Host": host or "127.0.0.1:%d" % self.port}
        all_headers.update(headers or {})
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            all_headers["Content-Type"] = "application/json"
        conn.request(method, path, body=data, headers=all_headers)
        reply = conn.getresponse()
        payload = reply.read()
        conn.close()
        return reply, payload

    def bearer(self, token=TOKEN):
        return {"Authorization": "Bearer " + token}

    def session_cookie(self):
        reply, _ = self.request("GET", "/")
        cookie = reply.getheader("Set-Cookie")
        self.assertIn("HttpOnly", cookie)
        self.assertIn("SameSite=Strict", cookie)
        return cookie.split(";")[0]


class AccessTest(ServerCase):
    def test_interface_needs_the_token_or_the_page_session(self):
        for headers in ({}, self.bearer("0" * 32), self.bearer(TOKEN[:-1]), {"Authorization": TOKEN},
                        {"Cookie": "brivok_session=guess"}):
            reply, _ = self.request("GET", "/api/jobs", headers=headers)
            self.assertEqual(reply.status, 401, headers)
        reply, _ = self.request("GET", "/api/jobs", headers=self.bearer())
        self.assertEqual(reply.status, 200)
        reply, _ = self.request("GET", "/api/jobs", headers={"Cookie": self.session_cookie()})
        self.assertEqual(reply.status, 200)

    def test_refused_requests_change_nothing(self):
        reply, _ = self.request("POST", "/api/jobs", {"kind": "render", "url": "https://a.test/"})
        self.assertEqual(reply.status, 401)
        self.assertEqual(self.server.service.jobs.list(), [])

    def test_other_host_names_are_refused(self):
        for host in ("evil.example:%d" % self.port, "127.0.0.1", "localhost:1", "127.0.0.1:%d.evil" % self.port):
            reply, _ = self.request("GET", "/", host=host)
            self.assertEqual(reply.status, 401, host)
            reply, _ = self.request("GET", "/api/jobs", headers=self.bearer(), host=host)
            self.assertEqual(reply.status, 401, host)
        reply, _ = self.request("GET", "/", host="localhost:%d" % self.port)
        self.assertEqual(reply.status, 200)

    def test_page_session_is_refused_from_another_origin(self):
        cookie = self.session_cookie()
        reply, _ = self.request("POST", "/api/jobs", {"kind": "render", "url": "https://a.test/"},
                                headers={"Cookie": cookie, "Origin": "https://evil.example"})
        self.assertEqual(reply.status, 401)
        reply, _ = self.request("POST", "/api/jobs", {"kind": "render", "url": "https://a.test/"},
                                headers={"Cookie": cookie, "Origin": "http://127.0.0.1:%d" % self.port})
        self.assertEqual(reply.status, 200)


class NativeJobTest(ServerCase):
    def test_long_poll_answers_empty_without_jobs(self):
        start = time.monotonic()
        reply, payload = self.request("GET", "/api/native/next", headers=self.bearer())
        self.assertEqual(reply.status, 200)
        self.assertEqual(json.loads(payload), {})
        self.assertGreaterEqual(time.monotonic() - start, 0.4)

    def test_waiting_poll_gets_a_job_queued_by_the_page(self):
        result = {}

        def poll():
            result["reply"] = self.request("GET", "/api/native/next", headers=self.bearer())

        self.server.service.long_poll = 5
        poller = threading.Thread(target=poll)
        poller.start()
        time.sleep(0.2)
        cookie = self.session_cookie()
        reply, payload = self.request("POST", "/api/jobs", {"kind": "render", "url": "https://a.test/", "key": "k"},
                                      headers={"Cookie": cookie})
        job_id = json.loads(payload)["job"]
        poller.join(10)
        job = json.loads(result["reply"][1])["job"]
        self.assertEqual(job, {"job": job_id, "kind": "render", "url": "https://a.test/", "key": "k", "cookies": []})

        report = {"job": job_id, "ok": True, "result": {"title": "A", "url": "https://a.test/", "text": "hello"},
                  "error": None}
        reply, payload = self.request("POST", "/api/native/done", report, headers=self.bearer())
        self.assertEqual(json.loads(payload), {"ok": True})
        jobs = json.loads(self.request("GET", "/api/jobs", headers={"Cookie": cookie})[1])["jobs"]
        self.assertEqual(jobs[0]["state"], "done")
        self.assertEqual(jobs[0]["outcome"], {"ok": True, "error": "None", "title": "A",
                                              "final_url": "https://a.test/", "length": 5,
                                              "first_lines": ["hello"]})
        self.assertLessEqual(jobs[0]["queued_at"], jobs[0]["started_at"])
        self.assertLessEqual(jobs[0]["started_at"], jobs[0]["finished_at"])

    def test_sign_in_jobs_never_show_the_password_or_cookie_values(self):
        reply, payload = self.request("POST", "/api/jobs", {
            "kind": "signin", "url": "https://a.test/login", "key": "k", "username": "ann",
            "password": "hunter2", "login_pattern": "signin", "domains": ["a.test"]},
            headers=self.bearer())
        self.assertEqual(reply.status, 200)
        job = json.loads(self.request("GET", "/api/native/next", headers=self.bearer())[1])["job"]
        self.assertEqual((job["kind"], job["password"], job["login_pattern"], job["domains"]),
                         ("signin", "hunter2", "signin", ["a.test"]))
        self.request("POST", "/api/native/done", {"job": job["job"], "ok": True, "error": "", "result": {
            "url": "https://a.test/home", "title": "Home",
            "cookies": [{"name": "sid", "value": "SECRETVALUE", "domain": "a.test"}]}},
            headers=self.bearer())
        listing = self.request("GET", "/api/jobs", headers=self.bearer())[1].decode()
        self.assertIn('"cookie_names":["sid"]', listing)
        self.assertNotIn("hunter2", listing)
        self.assertNotIn("SECRETVALUE", listing)

    def test_malformed_jobs_and_reports_are_refused(self):
        for body in (None, [], {"kind": "explode", "url": "https://a.test/"}, {"kind": "render"},
                     {"kind": "render", "url": 5}, {"kind": "render", "url": "file:///x"},
                     {"kind": "render", "url": "https://a.test/", "cookies": [1]},
                     {"kind": "signin", "url": "https://a.test/", "domains": "a.test"}):
            reply, _ = self.request("POST", "/api/jobs", body, headers=self.bearer())
            self.assertEqual(reply.status, 400, body)
        for report in (None, "x", {"job": 1}, {"job": "job-999", "ok": True}):
            reply, payload = self.request("POST", "/api/native/done", report, headers=self.bearer())
            self.assertEqual(json.loads(payload), {"ok": False})


class QueueTest(unittest.TestCase):
    def test_jobs_go_out_once_in_order_and_reports_only_for_running_jobs(self):
        q = JobQueue()
        a = q.add("render", "https://a.test/")
        b = q.add("render", "https://b.test/")
        self.assertFalse(q.done({"job": a, "ok": True}))  # not taken yet
        self.assertEqual(q.next(0)["job"], a)
        self.assertEqual(q.next(0)["job"], b)
        self.assertIsNone(q.next(0))
        self.assertTrue(q.done({"job": a, "ok": True}))
        self.assertFalse(q.done({"job": a, "ok": True}))  # a second report is ignored
        with self.assertRaises(ValueError):
            q.add("bake", "https://c.test/")

    def test_close_releases_waiting_polls(self):
        q = JobQueue()
        threading.Timer(0.1, q.close).start()
        start = time.monotonic()
        self.assertIsNone(q.next(10))
        self.assertLess(time.monotonic() - start, 5)


class CommandLineTest(unittest.TestCase):
    def run_cli(self, *args):
        env = dict(os.environ, PYTHONPATH=APP)
        return subprocess.run([sys.executable, "-m", "brivok_cli.main", *args], env=env,
                              capture_output=True, text=True, timeout=30)

    def test_help_version_and_usage_errors(self):
        version = self.run_cli("--version")
        self.assertEqual((version.returncode, version.stdout.strip()), (0, "brivok 0.1.0"))
        help_ = self.run_cli("--help")
        self.assertEqual(help_.returncode, 0)
        self.assertIn("desktop", help_.stdout)
        for bad in (["--bogus"], ["launch"], ["desktop", "--port", "x"], ["desktop", "--port", "70000"]):
            wrong = self.run_cli(*bad)
            self.assertEqual(wrong.returncode, 2, bad)
            self.assertIn("usage: brivok", wrong.stderr)


class LaunchTest(unittest.TestCase):
    def launch(self, env_extra=None):
        env = dict(os.environ, PYTHONPATH=APP, PYTHONUNBUFFERED="1", BRIVOK_DESKTOP_TOKEN=TOKEN)
        env.update(env_extra or {})
        return subprocess.Popen([sys.executable, "-m", "brivok_cli.main", "desktop", "--port", "0"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                env=env, start_new_session=True)

    def test_announces_its_address_in_one_line_and_ends_on_sigterm(self):
        proc = self.launch()
        try:
            line = proc.stdout.readline().decode()
            self.assertRegex(line, r"^BRIVOK_READY http://127\.0\.0\.1:\d+/\n$")
            port = int(line.rsplit(":", 1)[1].strip("/\n"))
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            conn.request("GET", "/api/status", headers={"Authorization": "Bearer " + TOKEN})
            self.assertEqual(conn.getresponse().status, 200)
            conn.close()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(5), 0)
            self.assertNotIn(TOKEN, proc.stderr.read().decode())
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
            proc.stderr.close()

    def test_exits_when_its_parent_is_gone(self):
        # A stand-in shell that starts the backend and then dies without a word.
        shell = subprocess.Popen(
            [sys.executable, "-c",
             "import os,subprocess,sys\n"
             "env=dict(os.environ, BRIVOK_PARENT_PID=str(os.getpid()))\n"
             "p=subprocess.Popen([sys.executable,'-m','brivok_cli.main','desktop','--port','0'],env=env,"
             "stdout=subprocess.PIPE,stderr=subprocess.DEVNULL)\n"
             "sys.stdout.write(str(p.pid)+' '+p.stdout.readline().decode()); sys.stdout.flush()\n"
             "os.kill(os.getpid(), 9)\n"],
            stdout=subprocess.PIPE, env=dict(os.environ, PYTHONPATH=APP, BRIVOK_DESKTOP_TOKEN=TOKEN))
        pid = int(shell.stdout.readline().split()[0])
        shell.wait(5)
        shell.stdout.close()
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                return
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass
            time.sleep(0.05)
        os.kill(pid, 9)
        self.fail("the backend outlived its shell")


if __name__ == "__main__":
    unittest.main()
