"""Shared helpers for the integration tests: where the build is, a
quillon-host process on its own engine socket, and its day log."""

import glob
import json
import os
import queue
import re
import resource
import shutil
import signal
import subprocess
import tempfile
import threading
import time

SOURCE_DIR = os.environ.get("QUILLON_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "../..")))
BUILD_DIR = os.environ.get("QUILLON_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
HOST = os.path.join(BUILD_DIR, "quillon-host")
ENGINE = os.path.join(BUILD_DIR, "quillon-engine")
LIBRARY = os.path.join(BUILD_DIR, "libquillon_host.so")
# The build's sanitizer ("OFF" or empty for the normal build).
SANITIZER = "" if os.environ.get("QUILLON_SANITIZE", "OFF") == "OFF" else os.environ["QUILLON_SANITIZE"]


def wait_for(predicate, timeout=10.0, interval=0.02):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() <= deadline:
        time.sleep(interval)
    return value


def stop(process, timeout=10, group=False):
    """Terminates, then kills, the process, or its whole process group if `group`."""
    if process is not None and process.poll() is None:
        send = (lambda sig: os.killpg(process.pid, sig)) if group else process.send_signal
        send(signal.SIGTERM)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            send(signal.SIGKILL)
            process.wait()


def init_args(log_dir, name="Quillon", copyright_text="(c)"):
    return {"logPath": log_dir, "logEnable": True, "applicationName": name, "menuAbout": "About it",
            "menuUpdate": "Update", "menuSettings": "Settings", "menuOpen": "Open", "menuExit": "Leave",
            "menuAboutCopyrightTip": copyright_text}


def day_log(log_dir):
    """The text of the one day log in log_dir, empty unless there is exactly one."""
    names = glob.glob(os.path.join(log_dir, "native_*.log"))
    if len(names) != 1:
        return ""
    with open(names[0], encoding="utf-8") as f:
        return f.read()


def expected_log_line(name):
    """An entry of tests/support/expected_log_lines.h, its value possibly on the line after its name."""
    with open(os.path.join(SOURCE_DIR, "tests/support/expected_log_lines.h"), encoding="utf-8") as f:
        return re.search(r'\b%s =\s*"([^"]*)"' % name, f.read())[1]


class Host:
    """quillon-host on a private socket, headless unless `windowed` (then with a HOME
    of its own); `env` is its whole environment, `file_limit` caps its files' size."""

    def __init__(self, env=None, windowed=False, file_limit=None, host=HOST, engine=ENGINE, args=(),
                 state_home=None):
        self.dir = tempfile.mkdtemp(prefix="quillon-host-")
        self.socket = os.path.join(self.dir, "engine.sock")
        self.log_dir = os.path.join(self.dir, "logs")
        self.env = dict(os.environ if env is None else env)
        self.env["XDG_STATE_HOME"] = state_home or os.path.join(self.dir, "state")
        if windowed:
            self.env["HOME"] = self.dir
        self.engine, self.file_limit = engine, file_limit
        self.argv = [host, "--engine-socket", self.socket] + ([] if windowed else ["--headless"]) + list(args)

    def __enter__(self):
        limit = self.file_limit
        with open(os.path.join(self.dir, "host.stderr"), "wb") as stderr:
            self.process = subprocess.Popen(
                self.argv, stdout=subprocess.DEVNULL, stderr=stderr, env=self.env,
                preexec_fn=(lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))) if limit else None)
        wait_for(lambda: os.path.exists(self.socket) or self.process.poll() is not None, 30)
        if self.process.poll() is not None or not os.path.exists(self.socket):
            raise RuntimeError("quillon-host did not start (exit %s): %s" % (self.process.poll(), self.stderr()))
        return self

    def __exit__(self, *exc):
        stop(self.process, 20)
        shutil.rmtree(self.dir, ignore_errors=True)

    def stderr(self):
        with open(os.path.join(self.dir, "host.stderr"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def call(self, channel, method, args=None):
        """`quillon-engine call` against this host: (exit code, stdout, stderr)."""
        argv = [self.engine, "--socket", self.socket, "call", channel, method]
        done = subprocess.run(argv + ([json.dumps(args)] if args is not None else []),
                              capture_output=True, encoding="utf-8", timeout=30, env=self.env)
        return done.returncode, done.stdout, done.stderr


class JsonLines:
    """A process that prints one JSON object a line, its lines in a queue."""

    def __init__(self, argv, env):
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))

    def next(self, timeout=20):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def close(self):
        stop(self.process)
        self.process.stdout.close()
