"""The windowed quillon-host under Xvfb: the main window's place and size,
hiding on close and coming back on activation, the menu actions that reach
the engine, quitting, and the About panel as the user sees it."""

import json
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from harness import BUILD_DIR, ENGINE, HOST, wait_for
from xvfb import Xvfb

APP_ID = "org.quillon.Host"
APP_PATH = "/org/quillon/Host"

LONG_COPYRIGHT = ("Copyright 2026 Voxbook Recording Instruments and all of the many people who "
                  "helped to build it over the years, in every country of the world, with thanks")


def init_args(log_dir, name="Quillon", copyright_text="(c)"):
    return {"logPath": log_dir, "logEnable": True, "applicationName": name, "menuAbout": "About it",
            "menuUpdate": "Update", "menuSettings": "Settings", "menuOpen": "Open", "menuExit": "Leave",
            "menuAboutCopyrightTip": copyright_text}


class WindowedHost:
    """quillon-host with its window on the given X server; a context manager."""

    def __init__(self, x):
        self.x = x
        self.dir = tempfile.mkdtemp(prefix="quillon-window-")
        self.socket = os.path.join(self.dir, "engine.sock")
        self.log_dir = os.path.join(self.dir, "logs")
        self.env = x.env(HOME=self.dir)
        self.process = None
        self._stderr = None

    def __enter__(self):
        self._stderr = open(os.path.join(self.dir, "host.stderr"), "wb")
        self.process = subprocess.Popen([HOST, "--engine-socket", self.socket],
                                        stdout=subprocess.DEVNULL, stderr=self._stderr, env=self.env)
        if not wait_for(lambda: os.path.exists(self.socket) or self.process.poll() is not None, 30):
            raise RuntimeError("quillon-host did not open its engine socket")
        if self.process.poll() is not None:
            raise RuntimeError("quillon-host exited: " + self.stderr())
        self.window = self.wait_for_main_window()
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def stderr(self):
        with open(os.path.join(self.dir, "host.stderr"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def top_level_windows(self):
        """(id, title) of the host's top-level windows, mapped or not."""
        out = self.x.run("xwininfo", "-root", "-children")
        found = []
        for line in out.splitlines():
            line = line.strip()
            if line.startswith("0x") and '"' in line and '("quillon-host"' in line:
                wid = int(line.split()[0], 16)
                found.append((wid, line.split('"')[1]))
        return found

    def wait_for_main_window(self, timeout=30):
        # The main window is the one GtkApplication exports as a window object.
        def find():
            for wid, _ in self.top_level_windows():
                if "/window/" in self.x.run("xprop", "-id", str(wid), "_GTK_WINDOW_OBJECT_PATH", check=False) \
                        and self.x.is_viewable(wid):
                    return wid
            return None
        wid = wait_for(find, timeout)
        if not wid:
            raise AssertionError("the main window never showed: " + self.stderr())
        return wid

    def action(self, name):
        self.x.run("gdbus", "call", "--session", "--dest", APP_ID, "--object-path", APP_PATH,
                   "--method", "org.gtk.Actions.Activate", name, "[]", "{}")

    def call(self, channel, method, args=None, timeout=30):
        argv = [ENGINE, "--socket", self.socket, "call", channel, method]
        if args is not None:
            argv.append(json.dumps(args))
        done = subprocess.run(argv, capture_output=True, timeout=timeout, env=self.env)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def menubar_labels(self):
        """Every text of the exported menu bar, as the desktop would read it."""
        return self.x.run("gdbus", "call", "--session", "--dest", APP_ID, "--object-path",
                          APP_PATH + "/menus/menubar", "--method", "org.gtk.Menus.Start", "[0, 1, 2]")


class Listener:
    """`quillon-engine listen` as the connected engine, its lines in a queue."""

    def __init__(self, host):
        self.process = subprocess.Popen([ENGINE, "--socket", host.socket, "listen"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=host.env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))

    def next(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


def text_bands(gray, width, rows, threshold=110):
    """Runs of rows (first, last) that hold dark pixels: lines of text on the
    panel's light background."""
    bands = []
    for row in rows:
        line = gray[row * width:(row + 1) * width]
        if any(value < threshold for value in line):
            if bands and bands[-1][1] >= row - 1:
                bands[-1][1] = row
            else:
                bands.append([row, row])
    return [tuple(band) for band in bands]


def gray_pixels(x, rect, path):
    """The 8-bit grey values of a rectangle (x, y, width, height) of the screen."""
    x.run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]), "+repage",
          "-depth", "8", "gray:" + path)
    with open(path, "rb") as f:
        return f.read()


class WindowPlacementTest(unittest.TestCase):
    def assert_painted_exactly(self, x, host, frame):
        # Across each edge of the frame: the pixel inside is the window's, the
        # one outside the bare (black) root. Nothing of the window lies beyond.
        left, top, width, height = frame
        right, bottom = left + width - 1, top + height - 1
        row = (top + bottom) // 2
        column = (left + right) // 2
        edges = {"left": gray_pixels(x, (left - 1, row, 2, 1), os.path.join(host.dir, "l")),
                 "right": gray_pixels(x, (right, row, 2, 1), os.path.join(host.dir, "r")),
                 "top": gray_pixels(x, (column, top - 1, 1, 2), os.path.join(host.dir, "t")),
                 "bottom": gray_pixels(x, (column, bottom, 1, 2), os.path.join(host.dir, "b"))}
        self.assertEqual(edges["left"][0], 0, "painted left of the frame")
        self.assertGreater(edges["left"][1], 0)
        self.assertGreater(edges["right"][0], 0)
        self.assertEqual(edges["right"][1], 0, "painted right of the frame")
        self.assertEqual(edges["top"][0], 0, "painted above the frame")
        self.assertGreater(edges["top"][1], 0)
        self.assertGreater(edges["bottom"][0], 0)
        self.assertEqual(edges["bottom"][1], 0, "painted below the frame")

    def test_centred_on_a_full_hd_screen(self):
        with Xvfb(1920, 1080) as x, WindowedHost(x) as host:
            self.assertEqual(x.visible_geometry(host.window), (410, 190, 1100, 700))
            probe = os.path.join(host.dir, "drawn")
            self.assertTrue(wait_for(lambda: gray_pixels(x, (410, 500, 1, 1), probe)[0] > 0, 20),
                            "the window was never drawn")
            self.assert_painted_exactly(x, host, (410, 190, 1100, 700))

    def test_smaller_screen_keeps_the_size_and_the_formula(self):
        with Xvfb(1024, 600) as x, WindowedHost(x) as host:
            self.assertEqual(x.visible_geometry(host.window), (-38, -50, 1100, 700))


class WindowLifecycleTest(unittest.TestCase):
    def test_close_hides_and_a_second_launch_brings_it_back_focused(self):
        with Xvfb(1920, 1080) as x, WindowedHost(x) as host:
            left, top, width, _ = x.visible_geometry(host.window)
            # The header bar's close button sits at its right end. A click that
            # comes before GTK is ready for it is tried again; once the window
            # is gone a click lands on the bare root.
            def click_close():
                x.run("xdotool", "mousemove", str(left + width - 20), str(top + 22), "click", "1")
                return wait_for(lambda: not x.is_viewable(host.window), 3)
            self.assertTrue(wait_for(click_close, 30, interval=0), "the window did not hide")

            second = subprocess.run([HOST], env=host.env, capture_output=True, timeout=60)
            self.assertEqual(second.returncode, 0, second.stderr.decode())
            self.assertTrue(wait_for(lambda: x.is_viewable(host.window), 20), "the window did not come back")
            self.assertIsNone(host.process.poll(), "closing the window ended the process")
            self.assertTrue(wait_for(lambda: x.focused_window() == host.window, 20),
                            "the window is not the focused one")
            self.assertEqual(x.visible_geometry(host.window), (410, 190, 1100, 700))

            # SIGTERM takes the orderly way out, like "eventByExit".
            host.process.terminate()
            self.assertEqual(host.process.wait(timeout=30), 0)
            self.assertFalse(os.path.exists(host.socket))

    def test_exit_tells_the_engine_and_event_by_exit_ends_the_process(self):
        with Xvfb(1920, 1080) as x, WindowedHost(x) as host:
            code, out, err = host.call("native_application_factory", "getResourceUsage")
            self.assertEqual(code, 0, err)
            self.assertRegex(out.strip(), r'^"Memory: \d+\.\d\d MB \| CPU: \d+\.\d\d%"$')

            listener = Listener(host)
            try:
                # Menu messages are dropped until the engine is connected; ask
                # for updates until one arrives to know that it is.
                first = None
                deadline = time.monotonic() + 30
                while first is None and time.monotonic() < deadline:
                    host.action("checkUpdate")
                    first = listener.next(0.5)
                self.assertEqual(first, {"channel": "native_application_factory", "method": "menuOnUpdate",
                                         "arguments": None})
                host.action("openExit")
                seen = [listener.next(20)]
                while seen[-1] is not None and seen[-1]["method"] == "menuOnUpdate":
                    seen.append(listener.next(20))
                self.assertEqual(seen[-1], {"channel": "native_application_factory", "method": "menuOnExit",
                                            "arguments": None})
                # Still running and serving after Exit: the next action gets through.
                host.action("checkUpdate")
                self.assertEqual(listener.next(20)["method"], "menuOnUpdate")
                self.assertIsNone(host.process.poll(), "Exit ended the process by itself")
            finally:
                listener.close()

            code, out, err = host.call("native_application_factory", "eventByExit")
            self.assertEqual(code, 0, err)
            self.assertEqual(host.process.wait(timeout=30), 0)


class SessionManager:
    """fake_session_manager.py on the test's bus, its reports in a queue."""

    def __init__(self, x):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_session_manager.py")
        self.process = subprocess.Popen(["/usr/bin/python3", script], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=x.env())
        self.reports = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        if self.next(30) != {"call": "ready"}:
            raise RuntimeError("the session manager stand-in did not start")

    def _read(self):
        for line in self.process.stdout:
            self.reports.put(json.loads(line))

    def next(self, timeout=20):
        try:
            return self.reports.get(timeout=timeout)
        except queue.Empty:
            return None

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class BackgroundActivityTest(unittest.TestCase):
    def test_background_task_inhibits_idle_and_suspend_until_it_ends(self):
        with Xvfb(1920, 1080) as x:
            manager = SessionManager(x)
            try:
                with WindowedHost(x) as host:
                    begin = ("background_activity_factory", "beginBackgroundTask")
                    self.assertEqual(host.call(*begin, {"reason": "Recording"})[:2], (0, "null\n"))
                    first = manager.next()
                    self.assertEqual(first["call"], "Inhibit")
                    self.assertEqual((first["app_id"], first["reason"], first["flags"]),
                                     (APP_ID, "Recording", 4 | 8))  # suspend | idle
                    self.assertEqual(first["xid"], host.window)

                    # A second begin ends the first inhibition before it takes another.
                    self.assertEqual(host.call(*begin)[:2], (0, "null\n"))
                    self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": first["cookie"]})
                    second = manager.next()
                    self.assertEqual((second["call"], second["reason"]),
                                     ("Inhibit", "Performing a long-running task"))

                    self.assertEqual(host.call("background_activity_factory", "endBackgroundTask")[:2],
                                     (0, "null\n"))
                    self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": second["cookie"]})
            finally:
                manager.close()


class AboutPanelTest(unittest.TestCase):
    def panel(self, x, host, title):
        def find():
            for wid, name in host.top_level_windows():
                if name == title and wid != host.window and x.is_viewable(wid):
                    return wid
            return None
        wid = wait_for(find, 20)
        self.assertTrue(wid, "no About panel titled %r" % title)
        return wid

    def read_panel(self, x, host, wid, name):
        """The panel's pixels once GTK has drawn it: two equal captures in a row
        with text in the copyright's frame."""
        rect = x.geometry(wid)
        self.assertEqual(rect[2:], (420, 240))
        raw = os.path.join(host.dir, name + ".gray")
        captures = [b""]

        def settled():
            captures.append(gray_pixels(x, rect, raw))
            return captures[-1] == captures[-2] and text_bands(captures[-1], 420, range(170, 240))
        self.assertTrue(wait_for(settled, 20, interval=0.2), "the About panel was never drawn")
        x.screenshot(os.path.join(host.dir, name + ".png"), rect)
        return rect, captures[-1]

    def test_panel_shows_name_version_and_two_copyright_lines_and_follows_init(self):
        with Xvfb(1920, 1080) as x, WindowedHost(x) as host:
            host.action("showAbout")
            first = self.panel(x, host, "Quillon")
            rect, gray = self.read_panel(x, host, first, "default")
            self.assertEqual(rect[:2], ((1920 - 420) // 2, (1080 - 240) // 2))
            # Kept above other windows, and of a fixed size.
            props = x.run("xprop", "-id", str(first))
            self.assertIn("_NET_WM_STATE_ABOVE", props)
            self.assertIn("program specified minimum size: 420 by 240", props)
            self.assertIn("program specified maximum size: 420 by 240", props)
            # The name's frame is rows 85-104 (a tail may reach below), the
            # version's 107-124, the copyright's 180-219; the default copyright
            # fits on one line.
            self.assertEqual(len(text_bands(gray, 420, range(80, 109))), 1)
            self.assertEqual(len(text_bands(gray, 420, range(109, 130))), 1)
            self.assertEqual(len(text_bands(gray, 420, range(170, 240))), 1)

            code, out, err = host.call("native_application_factory", "init",
                                       init_args(host.log_dir, "Voxbook", LONG_COPYRIGHT))
            self.assertEqual((code, out.strip()), (0, "true"), err)
            host.action("showAbout")
            second = self.panel(x, host, "Voxbook")
            self.assertNotEqual(second, first, "the About panel was reused")
            _, renamed = self.read_panel(x, host, second, "renamed")
            name_rows = slice(80 * 420, 109 * 420)
            self.assertNotEqual(renamed[name_rows], gray[name_rows], "the name did not change")
            self.assertEqual(text_bands(renamed, 420, range(109, 130)), text_bands(gray, 420, range(109, 130)))
            # The long copyright wraps and is cut after two lines, inside its frame.
            copyright_bands = text_bands(renamed, 420, range(170, 240))
            self.assertEqual(len(copyright_bands), 2, copyright_bands)
            self.assertGreaterEqual(copyright_bands[0][0], 180)
            self.assertLess(copyright_bands[1][1], 220)

            # With panels open, the application's main window is still the one
            # that comes to the front, not the newest panel.
            host.action("showMainWindow")
            self.assertTrue(wait_for(lambda: x.focused_window() == host.window, 20))

            labels = host.menubar_labels()
            self.assertIn("Quillon", labels)
            self.assertNotIn("Voxbook", labels)
            self.assertNotIn("About it", labels)


class InstallTest(unittest.TestCase):
    def test_install_puts_the_launcher_entry_beside_its_icon_and_program(self):
        prefix = tempfile.mkdtemp(prefix="quillon-install-")
        try:
            subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], check=True,
                           capture_output=True, timeout=120)
            with open(os.path.join(prefix, "share/applications", APP_ID + ".desktop"), encoding="utf-8") as f:
                entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
            self.assertEqual(entry["Type"], "Application")
            self.assertTrue(os.access(os.path.join(prefix, "bin", entry["Exec"].split()[0]), os.X_OK))
            for icon in ("256x256/apps/%s.png", "scalable/apps/%s.svg"):
                self.assertTrue(os.path.isfile(os.path.join(prefix, "share/icons/hicolor", icon % entry["Icon"])))
        finally:
            shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
