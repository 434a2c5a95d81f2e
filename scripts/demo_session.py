#!/usr/bin/env python3
"""A scripted session against a real quillon-host: the engine's "init", then
a serial exchange with a recorder played on a pseudo-terminal, then quit.
Prints every call, its reply and the day log written on the way."""

import json
import os
import select
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.abspath(os.environ.get("QUILLON_BUILD_DIR", os.path.join(ROOT, "build")))
HOST = os.path.join(BUILD, "quillon-host")
ENGINE = os.path.join(BUILD, "quillon-engine")


class Recorder(threading.Thread):
    """Plays the recorder on the master side of a pseudo-terminal: every
    request is answered with 0x06 followed by the request reversed."""

    def __init__(self):
        super().__init__(daemon=True)
        self.master, slave = os.openpty()
        self.path = os.ttyname(slave)
        os.close(slave)
        self.running = True

    def run(self):
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                request = os.read(self.master, 256)
            except OSError:  # no one has the port open right now
                time.sleep(0.02)
                continue
            if request:
                os.write(self.master, b"\x06" + request[::-1])


def main():
    work = tempfile.mkdtemp(prefix="quillon-demo-")
    sock = os.path.join(work, "engine.sock")
    logs = os.path.join(work, "logs")
    host = subprocess.Popen([HOST, "--headless", "--engine-socket", sock], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 10
    while not os.path.exists(sock):
        if host.poll() is not None or time.monotonic() > deadline:
            sys.exit("quillon-host did not start: " + host.stderr.read().decode())
        time.sleep(0.02)

    def call(channel, method, args=None):
        argv = [ENGINE, "--socket", sock, "call", channel, method]
        if args is not None:
            argv.append(json.dumps(args))
        done = subprocess.run(argv, capture_output=True, text=True, timeout=30)
        shown = json.dumps(args, ensure_ascii=False) if args is not None else ""
        print(f"> {channel} {method} {shown}")
        print(f"< {done.stdout.strip() or done.stderr.strip()}   (exit {done.returncode})")
        return done

    recorder = Recorder()
    recorder.start()
    print(f"quillon-host started (pid {host.pid}); recorder played on {recorder.path}\n")
    call("native_application_factory", "init", {
        "logPath": logs, "logEnable": True, "applicationName": "Quillon", "menuAbout": "About",
        "menuUpdate": "Update", "menuSettings": "Settings", "menuOpen": "Open", "menuExit": "Exit",
        "menuAboutCopyrightTip": "Demo session"})
    call("native_usb_factory", "sendUsbHexDataAndClose",
         {"path": recorder.path, "data": "A55A0102", "timeout": 200, "trace": "demo"})
    call("native_usb_factory", "open", {"path": recorder.path})
    call("native_usb_factory", "sendUsbBytesData", {"path": recorder.path, "data": [1, 2, 3]})
    call("native_usb_factory", "readUsbHexData", {"path": recorder.path})
    call("native_usb_factory", "close", {"path": recorder.path})
    call("native_usb_factory", "noSuchCommand", {})
    call("native_application_factory", "eventByExit")
    host.wait(timeout=10)
    recorder.running = False

    print("\nday log:")
    for name in sorted(os.listdir(logs)) if os.path.isdir(logs) else []:
        path = os.path.join(logs, name)
        print(f"--- {path}")
        with open(path, encoding="utf-8") as f:
            sys.stdout.write(f.read())
    print(f"\nhost exited with {host.returncode}; files kept in {work}")


if __name__ == "__main__":
    main()
