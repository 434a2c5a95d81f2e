"""An X server and a session bus of the test's own, optionally with an
accessibility bus, and the few X queries the window tests need."""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile

from harness import stop


def stop_group(process):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGTERM)
    process.wait(timeout=10)


class Xvfb:
    """Xvfb on a display it picks itself, with a private runtime folder and a
    private session bus (GApplication's single instance and its actions live
    on the session bus). `accessible` adds AT-SPI's bus launcher on that
    session bus, so GTK programs export their accessibility tree."""

    def __init__(self, width, height, accessible=False):
        self.screen, self.accessible = "%dx%dx24" % (width, height), accessible
        self.display = self.bus_address = None

    def __enter__(self):
        self.runtime_dir = tempfile.mkdtemp(prefix="quillon-xvfb-")
        self._cleanup = contextlib.ExitStack()
        self._cleanup.callback(shutil.rmtree, self.runtime_dir, ignore_errors=True)
        try:
            # -displayfd: the server picks a free display and names it once it
            # accepts connections, so no guessing and no race with other tests.
            read_fd, write_fd = os.pipe()
            self._start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen, "-nolisten", "tcp",
                         "-noreset"], stop, pass_fds=(write_fd,), stdout=subprocess.DEVNULL)
            os.close(write_fd)
            self.display = ":" + self._first_line(os.fdopen(read_fd, "rb"), "Xvfb")
            bus = self._start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stop,
                              stdout=subprocess.PIPE)
            self.bus_address = self._first_line(bus.stdout, "dbus-daemon")
            if self.accessible:
                # In a group of its own: the accessibility bus and registry it
                # starts go with it.
                self._start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], stop_group,
                            stdout=subprocess.DEVNULL, start_new_session=True)
        except BaseException:
            self._cleanup.close()
            raise
        return self

    def __exit__(self, *exc):
        self._cleanup.close()

    def _start(self, argv, stopper, **options):
        process = subprocess.Popen(argv, stderr=subprocess.DEVNULL, env=self.env(), **options)
        self._cleanup.callback(stopper, process)
        return process

    @staticmethod
    def _first_line(stream, program):
        with stream:
            line = stream.readline().decode().strip()
        if not line:
            raise RuntimeError(program + " did not start")
        return line

    def env(self):
        """The environment for a program that should run on this display."""
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime_dir, GDK_BACKEND="x11")
        env.pop("WAYLAND_DISPLAY", None)
        if not self.accessible:
            # No accessibility bus in the test session; without this GTK waits for it.
            env.update(NO_AT_BRIDGE="1", GTK_A11Y="none")
        env.update({name: value for name, value in (("DISPLAY", self.display),
                    ("DBUS_SESSION_BUS_ADDRESS", self.bus_address)) if value})
        return env

    def run(self, *argv, check=True):
        done = subprocess.run(argv, capture_output=True, timeout=30, env=self.env())
        if check and done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (argv[0], done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def is_viewable(self, wid):
        return "Map State: IsViewable" in self.run("xwininfo", "-id", str(wid), check=False)

    def visible_geometry(self, wid):
        """The window (x, y, width, height) as the user sees it: without a
        window manager (as here) GTK declares its painted frame as the
        window's opaque region, if it draws more around it."""
        out = self.run("xwininfo", "-id", str(wid))
        x, y, width, height = (int(re.search(label + r":\s+(-?\d+)", out)[1])
                               for label in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
        region = self.run("xprop", "-id", str(wid), "_NET_WM_OPAQUE_REGION", check=False)
        match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*$", region)
        if not match:
            return x, y, width, height
        return x + int(match[1]), y + int(match[2]), int(match[3]), int(match[4])

    def focused_window(self):
        """The top-level window holding the X input focus, or None."""
        out = self.run("xdotool", "getwindowfocus", "-f", check=False).strip()
        return int(out) if out.isdigit() else None

    def gray(self, rect, png=None):
        """The 8-bit grey values of a rectangle (x, y, width, height) of the
        screen; with `png`, a picture of it is saved there too."""
        path = os.path.join(self.runtime_dir, "screen.gray")
        capture = ("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]),
                   "+repage")
        if png:
            self.run(*capture, png)
        self.run(*capture, "-depth", "8", "gray:" + path)
        with open(path, "rb") as f:
            return f.read()
