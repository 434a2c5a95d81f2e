"""An X server with a session bus and an accessibility bus of its own, and
what is on its screen."""

import os
import shutil
import subprocess
import tempfile

from harness import stop


def first_line(stream, program):
    with stream:
        line = stream.readline().decode().strip()
    if not line:
        raise RuntimeError(program + " did not start")
    return line


class Xvfb:
    """Xvfb on a display it picks itself, with a private runtime folder, a
    session bus (GApplication's single instance and its actions live there)
    and AT-SPI's bus, on which GTK programs export their widget tree."""

    def __init__(self, width, height):
        self.screen, self._processes = "%dx%dx24" % (width, height), []

    def __enter__(self):
        self.runtime_dir = tempfile.mkdtemp(prefix="quillon-xvfb-")
        try:
            # -displayfd: the server picks a free display and names it once it
            # accepts connections, so no guessing and no race with other tests.
            read_fd, write_fd = os.pipe()
            self._start("Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen, "-nolisten", "tcp",
                        "-noreset", pass_fds=(write_fd,))
            os.close(write_fd)
            self.display = ":" + first_line(os.fdopen(read_fd, "rb"), "Xvfb")
            bus = self._start("dbus-daemon", "--session", "--nofork", "--print-address=1", stdout=subprocess.PIPE)
            self.bus_address = first_line(bus.stdout, "dbus-daemon")
            self._start("/usr/libexec/at-spi-bus-launcher", "--launch-immediately", env=self.env())
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for process in reversed(self._processes):
            stop(process)
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    def _start(self, *argv, **options):
        options.setdefault("stdout", subprocess.DEVNULL)
        self._processes.append(subprocess.Popen(argv, stderr=subprocess.DEVNULL, **options))
        return self._processes[-1]

    def env(self):
        """The environment for a program that should run on this display."""
        env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.runtime_dir, GDK_BACKEND="x11",
                   DBUS_SESSION_BUS_ADDRESS=self.bus_address)
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def run(self, *argv, check=True):
        done = subprocess.run(argv, capture_output=True, timeout=30, env=self.env())
        if check and done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (argv[0], done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def gray(self, rect, png=None):
        """The 8-bit grey values of a rectangle (x, y, width, height) of the
        screen; with `png`, a picture of it is saved there too."""
        capture = ["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]),
                   "+repage"]
        if png:
            self.run(*capture, png)
        return subprocess.run(capture + ["-depth", "8", "gray:-"], capture_output=True, check=True,
                              env=self.env()).stdout
