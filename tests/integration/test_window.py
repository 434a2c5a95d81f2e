"""The windowed quillon-host under Xvfb: the status page read through the
accessibility tree while the engine connects, ports come and a recording
runs, the main window's place and size, background tasks, the About panel as
the user sees it, the menu actions that reach the engine, hiding on close and
coming back on activation, quitting."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from harness import BUILD_DIR, ENGINE, HOST, Host, JsonLines, init_args, wait_for
from pty_device import PtyDevice
from pulse_server import PulseServer
from test_recording import Sounds
from xvfb import Xvfb

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_PYTHON = "/usr/bin/python3"  # the one with GLib's and AT-SPI's bindings
APP_ID = "org.quillon.Host"
APP_PATH = "/org/quillon/Host"
FRAME = (410, 190, 1100, 700)  # centred on 1920 x 1080
LONG_COPYRIGHT = ("Copyright 2026 Voxbook Recording Instruments and all of the many people who "
                  "helped to build it over the years, in every country of the world, with thanks")


def top_level_windows(x):
    """(id, title) of the host's top-level windows, mapped or not."""
    return [(int(line.split()[0], 16), line.split('"')[1])
            for line in map(str.strip, x.run("xwininfo", "-root", "-children").splitlines())
            if line.startswith("0x") and '("quillon-host"' in line]


def main_window(x, host):
    """The main window: the one GtkApplication exports as a window object."""
    wid = wait_for(lambda: next((wid for wid, _ in top_level_windows(x) if x.is_viewable(wid) and "/window/" in x.run(
        "xprop", "-id", str(wid), "_GTK_WINDOW_OBJECT_PATH", check=False)), None), 30)
    if not wid:
        raise AssertionError("the main window never showed: " + host.stderr())
    return wid


def action(x, name):
    x.run("gdbus", "call", "--session", "--dest", APP_ID, "--object-path", APP_PATH,
          "--method", "org.gtk.Actions.Activate", name, "[]", "{}")


def text_bands(gray, width, rows, threshold=110):
    """Runs of rows [first, last] holding dark pixels: lines of text on the
    panel's light background."""
    bands = []
    for row in rows:
        if any(value < threshold for value in gray[row * width:(row + 1) * width]):
            if bands and bands[-1][1] >= row - 1:
                bands[-1][1] = row
            else:
                bands.append([row, row])
    return bands


def add_acm_port(root, name, vendor, product):
    """A sysfs and /dev stand-in under root for a CDC-ACM port, shaped like
    the kernel's: the tty's device is a USB interface whose parent holds the
    identifiers. The node comes last, as the kernel makes it."""
    bus = 1 + int(name[len("ttyACM"):])
    device = os.path.join(root, "sys", "devices", "pci0000:00", "usb%d" % bus, "%d-1" % bus)
    interface = os.path.join(device, "%d-1:1.0" % bus)
    tty = os.path.join(interface, "tty", name)
    os.makedirs(tty)
    for field, value in (("idVendor", vendor), ("idProduct", product)):
        with open(os.path.join(device, field), "w") as f:
            f.write(value + "\n")
    os.symlink(interface, os.path.join(tty, "device"))
    os.makedirs(os.path.join(root, "sys", "class", "tty"), exist_ok=True)
    os.symlink(tty, os.path.join(root, "sys", "class", "tty", name))
    os.makedirs(os.path.join(root, "dev"), exist_ok=True)
    open(os.path.join(root, "dev", name), "w").close()
    return os.path.join(root, "dev", name)


class WindowedHostTest(unittest.TestCase):
    """One host start on a full HD screen serves every check, in the order a
    user would meet them; the engine link has one engine at a time, so the
    listener's and the recorder's parts come between the calls."""

    def test_one_session_from_start_to_exit(self):
        root = tempfile.mkdtemp(prefix="quillon-window-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        tree = os.path.join(root, "tree")
        first_port = add_acm_port(tree, "ttyACM0", "1a86", "7523")
        with PulseServer() as pulse, Xvfb(1920, 1080, accessible=True) as x:
            desktop = JsonLines([SYSTEM_PYTHON, os.path.join(HERE, "fake_desktop.py")], x.env())
            self.addCleanup(desktop.close)
            self.assertEqual(desktop.next(30), {"call": "ready"})
            env = dict(x.env(), PULSE_SERVER=pulse.server, PULSE_CLIENTCONFIG=pulse.env()["PULSE_CLIENTCONFIG"])
            args = ("--serial-sys-root", os.path.join(tree, "sys"), "--serial-dev-root", os.path.join(tree, "dev"))
            with Host(env=env, windowed=True, args=args) as host:
                window = main_window(x, host)
                self.check_status_page(x, host, window, desktop, pulse, tree, first_port, root)
                self.check_placement(x, host, window)
                self.check_background_tasks(host, desktop, window)
                self.check_about_panels(x, host, window)
                self.check_menu_reaches_the_engine(x, host)
                self.check_close_and_relaunch(x, host, window)

                code, out, err = host.call("native_application_factory", "eventByExit")
                self.assertEqual(code, 0, err)
                self.assertEqual(host.process.wait(timeout=30), 0)

    def page(self, x, predicate, what):
        """The labelled values of the status page (each value by the caption
        that labels it, as a screen reader reads it) once predicate(values)
        holds; the window titles under "windows"."""
        seen = [None]

        def read():
            dump = json.loads(x.run(SYSTEM_PYTHON, os.path.join(HERE, "a11y_tree.py"), "quillon-host") or "null")
            if dump:
                seen[0] = dict(dump["labelled"], windows=dump["windows"])
                try:
                    return predicate(seen[0])
                except (KeyError, TypeError):
                    return False
            return False
        self.assertTrue(wait_for(read, 60, interval=0.2), "%s never showed; last seen: %s" % (what, seen[0]))
        return seen[0]

    def screenshot(self, x, window, state, scratch):
        """Saves the window as build/screenshots/status-STATE.png; answers its grey pixels."""
        folder = os.path.join(BUILD_DIR, "screenshots")
        os.makedirs(folder, exist_ok=True)
        rect = x.visible_geometry(window)
        x.screenshot(rect, os.path.join(folder, "status-%s.png" % state))
        return x.gray(rect, os.path.join(scratch, "window.gray"))

    def check_status_page(self, x, host, window, desktop, pulse, tree, first_port, root):
        """The page the window shows while no engine view fills it: waiting,
        logging on, a port plugged in, an engine connected, a recording
        through the engine link and its stop."""
        folder = os.path.join(root, "recording")
        waiting = self.page(x, lambda p: p["Connection"] == "Waiting for the engine", "waiting")
        self.assertEqual((waiting["Socket"], waiting["Status"], waiting["Sources"], waiting["Logging"]),
                         (host.socket, "Idle", "None", "Off"))
        self.assertEqual((waiting["Microphone"], waiting["System audio"]), (0.0, 0.0))
        self.assertEqual(waiting["Ports"], [first_port + " (VID 1A86, PID 7523)"])
        self.assertIn("Quillon", waiting["windows"])
        shots = {"waiting": self.screenshot(x, window, "waiting", root)}

        self.assertEqual(host.call("native_application_factory", "init", init_args(host.log_dir))[0], 0)
        self.page(x, lambda p: (p["Logging"], p["Log folder"]) == ("On", host.log_dir), "logging on")
        second_port = add_acm_port(tree, "ttyACM1", "0483", "5740")
        self.page(x, lambda p: p["Ports"] == [first_port + " (VID 1A86, PID 7523)",
                                              second_port + " (VID 0483, PID 5740)"], "the new port")
        # A port the USB channel holds open is marked, even one no registry lists.
        pty = PtyDevice()
        self.addCleanup(pty.close)
        self.assertEqual(host.call("native_usb_factory", "open", {"path": pty.path})[:2], (0, "true\n"))
        self.page(x, lambda p: p["Ports"][-1] == pty.path + ", open", "the open port")

        listener = JsonLines([ENGINE, "--socket", host.socket, "listen"], host.env)
        try:
            self.page(x, lambda p: p["Connection"] == "Connected", "the connected engine")
            shots["connected"] = self.screenshot(x, window, "connected", root)
        finally:
            listener.close()
        self.page(x, lambda p: p["Connection"] == "Waiting for the engine", "waiting after the engine left")

        sounds = Sounds(pulse).start()
        self.addCleanup(sounds.stop)
        recorder = subprocess.Popen([ENGINE, "--socket", host.socket, "record", "--dir", folder],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=host.env)
        self.addCleanup(recorder.kill)
        self.page(x, lambda p: p["Status"] == "Recording" and p["Microphone"] > 0.6, "the microphone")
        sounds.play_tone_b()
        recording = self.page(x, lambda p: p["System audio"] > 0.5 and p["Elapsed"] != "0:00", "the system audio")
        self.assertEqual((recording["Connection"], recording["Sources"], recording["Folder"]),
                         ("Connected", "Microphone and system audio", folder))
        self.assertEqual(recording["WAV file"], os.path.join(folder, "recording.wav"))
        self.assertIn("Quillon — Recording", recording["windows"])
        self.assertEqual(desktop.next(), {"call": "Notify", "summary": "Quillon is recording", "replaces": 0,
                                          "body": "Recording the microphone and the system audio into " + folder})
        shots["recording"] = self.screenshot(x, window, "recording", root)

        recorder.send_signal(signal.SIGINT)
        _, err = recorder.communicate(timeout=60)
        self.assertEqual(recorder.returncode, 0, err)
        sounds.stop()
        idle = self.page(x, lambda p: p["Status"] == "Idle" and p["System audio"] == 0.0, "the stop")
        self.assertEqual((idle["Microphone"], idle["Elapsed"]), (0.0, "—"))
        self.assertIn("Quillon", idle["windows"])
        stopped = desktop.next()
        self.assertEqual(stopped["summary"], "Quillon stopped recording")
        self.assertTrue(stopped["body"].endswith(" into " + folder), stopped)
        # The pictures differ where the states do.
        self.assertNotEqual(shots["waiting"], shots["connected"])
        self.assertNotEqual(shots["connected"], shots["recording"])

    def check_placement(self, x, host, window):
        self.assertEqual(x.visible_geometry(window), FRAME)
        probe = os.path.join(host.dir, "probe")
        self.assertTrue(wait_for(lambda: x.gray((410, 500, 1, 1), probe)[0] > 0, 20), "the window was never drawn")
        # Across each edge of the frame: the pixel inside is the window's, the
        # one outside the bare (black) root. Nothing of the window lies beyond.
        left, top, width, height = FRAME
        right, bottom = left + width - 1, top + height - 1
        row, column = (top + bottom) // 2, (left + right) // 2
        for edge, rect, outside in (("left", (left - 1, row, 2, 1), 0), ("right", (right, row, 2, 1), 1),
                                    ("top", (column, top - 1, 1, 2), 0), ("bottom", (column, bottom, 1, 2), 1)):
            pixels = x.gray(rect, probe)
            self.assertEqual(pixels[outside], 0, "painted beyond the frame's %s edge" % edge)
            self.assertGreater(pixels[1 - outside], 0, edge)

    def check_background_tasks(self, host, manager, window):
        begin = ("background_activity_factory", "beginBackgroundTask")
        self.assertEqual(host.call(*begin, {"reason": "Recording"})[:2], (0, "null\n"))
        first = manager.next()
        self.assertEqual(first["call"], "Inhibit")
        self.assertEqual((first["app_id"], first["reason"], first["flags"], first["xid"]),
                         (APP_ID, "Recording", 4 | 8, window))  # suspend | idle
        # A second begin ends the first inhibition before it takes another.
        self.assertEqual(host.call(*begin)[:2], (0, "null\n"))
        self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": first["cookie"]})
        second = manager.next()
        self.assertEqual((second["call"], second["reason"]), ("Inhibit", "Performing a long-running task"))
        self.assertEqual(host.call("background_activity_factory", "endBackgroundTask")[:2], (0, "null\n"))
        self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": second["cookie"]})

    def about_panel(self, x, host, window, title):
        """The panel's id and pixels once GTK has drawn it: two equal captures
        in a row with text in the copyright's frame."""
        wid = wait_for(lambda: next((wid for wid, name in top_level_windows(x)
                                     if name == title and wid != window and x.is_viewable(wid)), None), 20)
        self.assertTrue(wid, "no About panel titled %r" % title)
        rect = x.geometry(wid)
        self.assertEqual(rect, ((1920 - 420) // 2, (1080 - 240) // 2, 420, 240))
        captures = [b""]

        def settled():
            captures.append(x.gray(rect, os.path.join(host.dir, "panel.gray")))
            return captures[-1] == captures[-2] and text_bands(captures[-1], 420, range(170, 240))
        self.assertTrue(wait_for(settled, 20, interval=0.2), "the About panel was never drawn")
        return wid, captures[-1]

    def check_about_panels(self, x, host, window):
        action(x, "showAbout")
        first, gray = self.about_panel(x, host, window, "Quillon")
        props = x.run("xprop", "-id", str(first))
        self.assertIn("_NET_WM_STATE_ABOVE", props)
        self.assertIn("program specified minimum size: 420 by 240", props)
        self.assertIn("program specified maximum size: 420 by 240", props)
        # The name's frame is rows 85-104 (a tail may reach below), the
        # version's 107-124, the copyright's 180-219; the default copyright
        # fits on one line.
        for rows in (range(80, 109), range(109, 130), range(170, 240)):
            self.assertEqual(len(text_bands(gray, 420, rows)), 1, rows)

        code, out, err = host.call("native_application_factory", "init",
                                   init_args(host.log_dir, "Voxbook", LONG_COPYRIGHT))
        self.assertEqual((code, out.strip()), (0, "true"), err)
        action(x, "showAbout")
        second, renamed = self.about_panel(x, host, window, "Voxbook")
        self.assertNotEqual(second, first, "the About panel was reused")
        name_rows = slice(80 * 420, 109 * 420)
        self.assertNotEqual(renamed[name_rows], gray[name_rows], "the name did not change")
        self.assertEqual(text_bands(renamed, 420, range(109, 130)), text_bands(gray, 420, range(109, 130)))
        # The long copyright wraps and is cut after two lines, inside its frame.
        copyright_bands = text_bands(renamed, 420, range(170, 240))
        self.assertEqual(len(copyright_bands), 2, copyright_bands)
        self.assertGreaterEqual(copyright_bands[0][0], 180)
        self.assertLess(copyright_bands[1][1], 220)

        # With panels open, the main window is still the one that comes to the front.
        action(x, "showMainWindow")
        self.assertTrue(wait_for(lambda: x.focused_window() == window, 20))
        labels = x.run("gdbus", "call", "--session", "--dest", APP_ID, "--object-path",
                       APP_PATH + "/menus/menubar", "--method", "org.gtk.Menus.Start", "[0, 1, 2]")
        self.assertIn("Quillon", labels)
        self.assertNotIn("Voxbook", labels)
        self.assertNotIn("About it", labels)

    def check_menu_reaches_the_engine(self, x, host):
        listener = JsonLines([ENGINE, "--socket", host.socket, "listen"], host.env)
        try:
            # Menu messages are dropped until the engine is connected; ask for
            # updates until one arrives to know that it is.
            first = wait_for(lambda: (action(x, "checkUpdate"), listener.next(0.5))[1], 30, interval=0)
            self.assertEqual(first, {"channel": "native_application_factory", "method": "menuOnUpdate",
                                     "arguments": None})
            action(x, "openExit")
            seen = [listener.next()]
            while seen[-1] is not None and seen[-1]["method"] == "menuOnUpdate":
                seen.append(listener.next())
            self.assertEqual(seen[-1], {"channel": "native_application_factory", "method": "menuOnExit",
                                        "arguments": None})
            # Still running and serving after Exit: the next action gets through.
            action(x, "checkUpdate")
            self.assertEqual(listener.next()["method"], "menuOnUpdate")
            self.assertIsNone(host.process.poll(), "Exit ended the process by itself")
        finally:
            listener.close()

    def check_close_and_relaunch(self, x, host, window):
        left, top, width, _ = x.visible_geometry(window)
        # The header bar's close button sits at its right end. A click that
        # comes before GTK is ready for it is tried again; once the window is
        # gone a click lands on the bare root.
        def click_close():
            x.run("xdotool", "mousemove", str(left + width - 20), str(top + 22), "click", "1")
            return wait_for(lambda: not x.is_viewable(window), 3)
        self.assertTrue(wait_for(click_close, 30, interval=0), "the window did not hide")

        second = subprocess.run([HOST], env=host.env, capture_output=True, timeout=60)
        self.assertEqual(second.returncode, 0, second.stderr.decode())
        self.assertTrue(wait_for(lambda: x.is_viewable(window), 20), "the window did not come back")
        self.assertIsNone(host.process.poll(), "closing the window ended the process")
        self.assertTrue(wait_for(lambda: x.focused_window() == window, 20), "the window is not the focused one")
        self.assertEqual(x.visible_geometry(window), FRAME)


class SmallScreenTest(unittest.TestCase):
    def test_smaller_screen_keeps_the_size_and_the_formula_and_sigterm_quits(self):
        with Xvfb(1024, 600) as x, Host(env=x.env(), windowed=True) as host:
            self.assertEqual(x.visible_geometry(main_window(x, host)), (-38, -50, 1100, 700))
            host.process.terminate()
            self.assertEqual(host.process.wait(timeout=30), 0)
            self.assertFalse(os.path.exists(host.socket))


if __name__ == "__main__":
    unittest.main()
