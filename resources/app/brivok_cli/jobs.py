"""The queue of native jobs that the desktop shell runs for the backend."""

import itertools
import threading
import time

KINDS = ("render", "signin")


class JobQueue:
    """Jobs wait here until the shell takes them; the shell's reports are kept per job."""

    def __init__(self):
        self._lock = threading.Condition()
        self._waiting = []
        self._jobs = {}
        self._order = []
        self._ids = itertools.count(1)
        self._closed = False

    def add(self, kind, url, key="", cookies=None, **extra):
        if kind not in KINDS:
            raise ValueError("unknown job kind")
        with self._lock:
            job_id = "job-%d" % next(self._ids)
            record = {"job": job_id, "kind": kind, "url": url, "key": key,
                      "cookies": list(cookies or [])}
            record.update(extra)
            self._jobs[job_id] = {"record": record, "state": "queued", "report": None,
                                  "queued_at": time.time(), "started_at": None,
                                  "finished_at": None}
            self._order.append(job_id)
            self._waiting.append(job_id)
            self._lock.notify_all()
            return job_id

    def next(self, timeout):
        """The next queued job, waiting up to `timeout` seconds; None when there is none."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while not self._waiting and not self._closed:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self._lock.wait(remaining)
            if not self._waiting:
                return None
            job_id = self._waiting.pop(0)
            self._jobs[job_id]["state"] = "running"
            self._jobs[job_id]["started_at"] = time.time()
            return dict(self._jobs[job_id]["record"])

    def done(self, report):
        """Records a report; False when it names no job that is running."""
        if not isinstance(report, dict) or not isinstance(report.get("job"), str):
            return False
        with self._lock:
            entry = self._jobs.get(report["job"])
            if entry is None or entry["state"] != "running":
                return False
            entry["state"] = "done"
            entry["report"] = report
            entry["finished_at"] = time.time()
            return True

    def list(self):
        """The latest jobs for the page: what they are, when, and how they ended. Passwords and
        cookie values never leave the queue this way."""
        with self._lock:
            return [self._summary(job_id, self._jobs[job_id]) for job_id in self._order[-50:]]

    @staticmethod
    def _summary(job_id, entry):
        record = entry["record"]
        summary = {"job": job_id, "kind": record["kind"], "url": record["url"],
                   "key": record.get("key", ""), "state": entry["state"],
                   "queued_at": entry["queued_at"], "started_at": entry["started_at"],
                   "finished_at": entry["finished_at"]}
        report = entry["report"]
        if report is not None:
            result = report.get("result") if isinstance(report.get("result"), dict) else {}
            outcome = {"ok": report.get("ok") is True, "error": str(report.get("error", ""))}
            if record["kind"] == "render":
                text = result.get("text") if isinstance(result.get("text"), str) else ""
                outcome.update({"title": str(result.get("title", "")),
                                "final_url": str(result.get("url", "")),
                                "length": len(text), "first_lines": text.splitlines()[:5]})
            else:
                cookies = result.get("cookies") if isinstance(result.get("cookies"), list) else []
                outcome.update({"title": str(result.get("title", "")),
                                "final_url": str(result.get("url", "")),
                                "cookie_names": [str(c.get("name", "")) for c in cookies
                                                 if isinstance(c, dict)]})
            summary["outcome"] = outcome
        return summary

    def close(self):
        """Ends every waiting poll, so the server can stop at once."""
        with self._lock:
            self._closed = True
            self._lock.notify_all()
