"""The reference backend: its launch contract, access rules and native-job interface."""

import http.client
import json
import os
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
APP = os.path.join(HERE, "..", "..", "resources", "app")
sys.path.insert(0, APP)

from brivok_cli.server import make_server  # noqa: E402

TOKEN = "0123456789ABCDEF0123456789ABCDEF"
BEARER = {"Authorization": "Bearer " + TOKEN}
RENDER = {"kind": "render", "url": "https://a.test/"}


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.server = make_server(TOKEN, long_poll=0.5)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, args=(0.05,), daemon=True).start()

    def tearDown(self):
        self.server.service.jobs.close()
        self.server.shutdown()
        self.server.server_close()

    def request(self, method, path, body=None, headers=None, host=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        all_headers = {"Host": host or "127.0.0.1:%d" % self.port, **(headers or {})}
        data = None if body is None else json.dumps(body).encode()
        conn.request(method, path, body=data, headers=all_headers)
        reply = conn.getresponse()
        payload = reply.read()
        conn.close()
        return reply.status, payload, reply.getheader("Set-Cookie")

    def test_access_needs_the_token_or_the_page_session_on_the_right_host_and_origin(self):
        _, _, set_cookie = self.request("GET", "/")
        self.assertIn("HttpOnly", set_cookie)
        self.assertIn("SameSite=Strict", set_cookie)
        cookie = {"Cookie": set_cookie.split(";")[0]}
        own = "127.0.0.1:%d" % self.port
        cases = [
            ({}, None, 401), ({"Authorization": "Bearer " + "0" * 32}, None, 401),
            ({"Authorization": "Bearer " + TOKEN[:-1]}, None, 401), ({"Authorization": TOKEN}, None, 401),
            ({"Cookie": "brivok_session=guess"}, None, 401), (BEARER, None, 200), (cookie, None, 200),
            (BEARER, "evil.example:%d" % self.port, 401), (BEARER, "127.0.0.1", 401),
            (BEARER, own + ".evil", 401), (BEARER, "localhost:%d" % self.port, 200),
            ({**cookie, "Origin": "https://evil.example"}, None, 401),
            ({**cookie, "Origin": "http://" + own}, None, 200),
        ]
        for headers, host, status in cases:
            self.assertEqual(self.request("POST", "/api/jobs", RENDER, headers, host)[0], status,
                             (headers, host))
        self.assertEqual(len(self.server.service.jobs.list()), 4)  # refused requests add nothing

    def test_jobs_travel_to_the_shell_and_back_without_secrets(self):
        status, payload, _ = self.request("GET", "/api/native/next", headers=BEARER)
        self.assertEqual((status, json.loads(payload)), (200, {}))  # an empty long poll
        result = {}
        self.server.service.long_poll = 5
        poller = threading.Thread(
            target=lambda: result.update(reply=self.request("GET", "/api/native/next", headers=BEARER)))
        poller.start()
        time.sleep(0.2)
        signin = {"kind": "signin", "url": "https://a.test/login", "key": "k", "username": "ann",
                  "password": "hunter2", "login_pattern": "signin", "domains": ["a.test"]}
        job_id = json.loads(self.request("POST", "/api/jobs", signin, BEARER)[1])["job"]
        poller.join(10)
        job = json.loads(result["reply"][1])["job"]
        self.assertEqual(job, {**signin, "job": job_id, "cookies": []})
        report = {"job": job_id, "ok": True, "error": "", "result": {
            "url": "https://a.test/home", "title": "Home",
            "cookies": [{"name": "sid", "value": "SECRETVALUE", "domain": "a.test"}]}}
        self.assertEqual(json.loads(self.request("POST", "/api/native/done", report, BEARER)[1]), {"ok": True})
        # A second report for the same job is not taken.
        self.assertEqual(json.loads(self.request("POST", "/api/native/done", report, BEARER)[1]), {"ok": False})
        listing = self.request("GET", "/api/jobs", headers=BEARER)[1].decode()
        self.assertIn('"cookie_names":["sid"]', listing)
        self.assertNotIn("hunter2", listing)
        self.assertNotIn("SECRETVALUE", listing)
        entry = json.loads(listing)["jobs"][0]
        self.assertEqual(entry["state"], "done")
        self.assertLessEqual(entry["queued_at"], entry["started_at"])

    def test_malformed_jobs_and_reports_are_refused(self):
        for body in (None, [], {"kind": "explode", "url": "https://a.test/"}, {"kind": "render"},
                     {"kind": "render", "url": 5}, {"kind": "render", "url": "file:///x"},
                     {"kind": "render", "url": "https://a.test/", "cookies": [1]},
                     {"kind": "signin", "url": "https://a.test/", "domains": "a.test"}):
            self.assertEqual(self.request("POST", "/api/jobs", body, BEARER)[0], 400, body)
        for report in (None, "x", {"job": 1}, {"job": "job-999", "ok": True}):
            payload = self.request("POST", "/api/native/done", report, BEARER)[1]
            self.assertEqual(json.loads(payload), {"ok": False})


if __name__ == "__main__":
    unittest.main()
