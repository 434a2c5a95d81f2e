"""An X server and a session bus of the test's own, optionally with an
accessibility bus, and the few X queries the window tests need (geometry,
focus, grey pixels of the screen, screenshots)."""

import os
import re
import select
import shutil
import signal
import subprocess
import tempfile

from harness import stop


class Xvfb:
    """Xvfb on a display it picks itself, with a private runtime folder and a
    private session bus (GApplication's single instance and its actions live
    on the session bus). `accessible` adds AT-SPI's bus launcher on that
    session bus, so GTK programs export their accessibility tree."""

    AT_SPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

    def __init__(self, width=1920, height=1080, timeout=30, accessible=False):
        self.width, self.height, self.timeout = width, height, timeout
        self.accessible = accessible
        self.display = self.runtime_dir = self.bus_address = None
        self._server = self._bus = self._a11y = None

    def __enter__(self):
        self.runtime_dir = tempfile.mkdtemp(prefix="quillon-xvfb-")
        os.chmod(self.runtime_dir, 0o700)
        try:
            self._start_server()
            self._start_bus()
            if self.accessible:
                # Its own process group: the launcher starts the accessibility
                # bus and the registry, which go with it.
                self._a11y = subprocess.Popen([self.AT_SPI_LAUNCHER, "--launch-immediately"], env=self.env(),
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                              start_new_session=True)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        if self._a11y is not None:
            try:
                os.killpg(self._a11y.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            self._a11y.wait(timeout=10)
        stop(self._bus)
        if self._bus is not None:
            self._bus.stdout.close()
        stop(self._server)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    def _start_server(self):
        # -displayfd lets the server pick a free display and tells us which
        # once it accepts connections: no guessing, no races with other tests.
        read_fd, write_fd = os.pipe()
        self._server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (self.width, self.height),
             "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd, "rb") as pipe:
            ready, _, _ = select.select([pipe], [], [], self.timeout)
            self.display = ":" + pipe.readline().decode().strip() if ready else ":"
        if self.display == ":":
            raise RuntimeError("Xvfb did not start")

    def _start_bus(self):
        self._bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env())
        ready, _, _ = select.select([self._bus.stdout], [], [], self.timeout)
        self.bus_address = self._bus.stdout.readline().decode().strip() if ready else ""
        if not self.bus_address:
            raise RuntimeError("dbus-daemon did not start")

    def env(self):
        """The environment for a program that should run on this display."""
        env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.runtime_dir, GDK_BACKEND="x11")
        if not self.accessible:
            # No accessibility bus in the test session; without this GTK waits for it.
            env.update(NO_AT_BRIDGE="1", GTK_A11Y="none")
        env.pop("WAYLAND_DISPLAY", None)
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    def run(self, *argv, check=True, timeout=30):
        done = subprocess.run(list(argv), capture_output=True, timeout=timeout, env=self.env())
        if check and done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (argv[0], done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def is_viewable(self, wid):
        return "Map State: IsViewable" in self.run("xwininfo", "-id", str(wid), check=False)

    def geometry(self, wid):
        """The X window's outer rectangle (x, y, width, height) on the root."""
        out = self.run("xwininfo", "-id", str(wid))
        return tuple(int(re.search(r"%s:\s+(-?\d+)" % label, out).group(1))
                     for label in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))

    def visible_geometry(self, wid):
        """The window as the user sees it: without a window manager (as here)
        GTK declares its painted frame as the window's opaque region."""
        x, y, width, height = self.geometry(wid)
        out = self.run("xprop", "-id", str(wid), "_NET_WM_OPAQUE_REGION", check=False)
        match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*$", out.strip())
        return (x + int(match.group(1)), y + int(match.group(2)), int(match.group(3)), int(match.group(4))) \
            if match else (x, y, width, height)

    def focused_window(self):
        """The X input focus: the top-level window holding it, or None."""
        out = self.run("xdotool", "getwindowfocus", "-f", check=False).strip()
        return int(out) if out.isdigit() else None

    def screenshot(self, rect, path, *options):
        """A picture (PNG, or as the options and the path's prefix say) of a
        rectangle (x, y, width, height) of the screen."""
        self.run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]),
                 "+repage", *options, path)

    def gray(self, rect, path):
        """The 8-bit grey values of a rectangle (x, y, width, height) of the screen."""
        self.screenshot(rect, "gray:" + path, "-depth", "8")
        with open(path, "rb") as f:
            return f.read()
