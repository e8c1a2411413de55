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
                                  "queued_at": time.time()}
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
            return True

    def list(self):
        with self._lock:
            return [{"job": job_id, "kind": self._jobs[job_id]["record"]["kind"],
                     "url": self._jobs[job_id]["record"]["url"],
                     "state": self._jobs[job_id]["state"],
                     "report": self._jobs[job_id]["report"]}
                    for job_id in self._order[-50:]]

    def close(self):
        """Ends every waiting poll, so the server can stop at once."""
        with self._lock:
            self._closed = True
            self._lock.notify_all()
