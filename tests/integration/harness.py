"""Shared helpers for the integration tests: where the build is, and a
quillon-host process with its own engine socket and log folder."""

import json
import os
import shutil
import socket
import subprocess
import tempfile
import time

SOURCE_DIR = os.environ.get(
    "QUILLON_SOURCE_DIR",
    os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("QUILLON_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
HOST = os.path.join(BUILD_DIR, "quillon-host")
ENGINE = os.path.join(BUILD_DIR, "quillon-engine")
LIBRARY = os.path.join(BUILD_DIR, "libquillon_host.so")


def wait_for(predicate, timeout=10.0, interval=0.02):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


class Host:
    """A headless quillon-host on a private socket; use as a context manager."""

    def __init__(self, extra_args=(), env=None):
        self.dir = tempfile.mkdtemp(prefix="quillon-host-")
        self.socket = os.path.join(self.dir, "engine.sock")
        self.log_dir = os.path.join(self.dir, "logs")
        self.stderr_path = os.path.join(self.dir, "host.stderr")
        self.extra_args = list(extra_args)
        self.env = dict(os.environ, **(env or {}))
        self.env.setdefault("HOME", self.dir)
        self.process = None

    def __enter__(self):
        self._stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(
            [HOST, "--headless", "--engine-socket", self.socket] + self.extra_args,
            stdout=subprocess.DEVNULL, stderr=self._stderr, env=self.env)
        if not wait_for(lambda: os.path.exists(self.socket) or self.process.poll() is not None):
            raise RuntimeError("quillon-host did not create its socket")
        if self.process.poll() is not None:
            raise RuntimeError("quillon-host exited: " + self.stderr())
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def engine(self, *args, timeout=30):
        """Runs quillon-engine against this host; returns (exit code, stdout, stderr)."""
        done = subprocess.run([ENGINE, "--socket", self.socket] + list(args),
                              capture_output=True, timeout=timeout, env=self.env)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def call(self, channel, method, args=None, timeout=30):
        argv = ["call", channel, method]
        if args is not None:
            argv.append(json.dumps(args))
        return self.engine(*argv, timeout=timeout)

    def connect(self):
        """A raw socket to the host's engine link, for frame-level tests."""
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(self.socket)
        return s
