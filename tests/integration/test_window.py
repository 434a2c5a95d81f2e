"""The windowed quillon-host under Xvfb, seen through screenshots and the
accessibility tree as a user and a screen reader would meet it."""

import contextlib
import json
import os
import pathlib
import signal
import subprocess
import unittest

from harness import BUILD_DIR, ENGINE, HOST, Host, JsonLines, init_args, wait_for
from pty_device import PtyDevice
from pulse_server import PulseServer
from test_recording import Sounds
from xvfb import Xvfb

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_PYTHON = "/usr/bin/python3"  # the one with GLib's and AT-SPI's bindings
APP_ID = "org.quillon.Host"
FRAME = [410, 190, 1100, 700]  # centred on 1920 x 1080
LONG_COPYRIGHT = "Copyright 2026 Voxbook Recording Instruments and all who helped to build it. " * 3


def shown_windows(x):
    return [int(wid) for wid in x.run("xdotool", "search", "--onlyvisible", "--classname", "quillon-host",
                                      check=False).split()]


def focused(x, window):
    return x.run("xdotool", "getwindowfocus", "-f", check=False).strip() == str(window)


def values(found, *keys):
    return [found[key] for key in keys]


def action(x, name):
    x.run("gdbus", "call", "--session", "--dest", APP_ID, "--object-path", "/org/quillon/Host",
          "--method", "org.gtk.Actions.Activate", name, "[]", "{}")


def text_lines(gray, width, rows):
    """Runs [first, last] of rows holding dark pixels: lines of text on a light background."""
    dark = [row for row in rows if min(gray[row * width:(row + 1) * width]) < 110]
    return list(zip([row for row in dark if row - 1 not in dark], [row for row in dark if row + 1 not in dark]))


def add_acm_port(root, index, vendor, product):
    """A CDC-ACM port in a sysfs and /dev stand-in under root, shaped like the kernel's
    (the tty's device is a USB interface under the identifiers), its node made last."""
    name, bus, root = "ttyACM%d" % index, index + 1, pathlib.Path(root)
    device = root / "sys/devices/pci0000:00" / ("usb%d" % bus) / ("%d-1" % bus)
    interface, tty_class = device / ("%d-1:1.0" % bus), root / "sys/class/tty"
    (interface / "tty" / name).mkdir(parents=True)
    (device / "idVendor").write_text(vendor + "\n")
    (device / "idProduct").write_text(product + "\n")
    (interface / "tty" / name / "device").symlink_to(interface)
    tty_class.mkdir(parents=True, exist_ok=True)
    (tty_class / name).symlink_to(interface / "tty" / name)
    (root / "dev").mkdir(exist_ok=True)
    (root / "dev" / name).touch()
    return str(root / "dev" / name)


class WindowedHostTest(unittest.TestCase):
    """One host start on a full HD screen serves every check, in the order a user would meet
    them; the engine link takes one engine at a time, so the listener and the recorder take turns."""

    def test_one_session_from_start_to_exit(self):
        with PulseServer() as pulse, Xvfb(1920, 1080) as x:
            desktop = JsonLines([SYSTEM_PYTHON, os.path.join(HERE, "fake_desktop.py")], x.env())
            self.addCleanup(desktop.close)
            self.assertEqual(desktop.next(30), {"call": "ready"})
            tree = os.path.join(x.runtime_dir, "tree")
            first_port = add_acm_port(tree, 0, "1a86", "7523")
            env = dict(x.env(), PULSE_SERVER=pulse.server, PULSE_CLIENTCONFIG=pulse.env()["PULSE_CLIENTCONFIG"])
            args = ("--serial-sys-root", os.path.join(tree, "sys"), "--serial-dev-root", os.path.join(tree, "dev"))
            with Host(env=env, windowed=True, args=args) as host:
                [window] = wait_for(lambda: shown_windows(x), 30)  # the main window alone
                self.check_status_page(x, host, desktop, pulse, tree, first_port)
                self.check_placement(x)
                self.check_background_tasks(host, desktop, window)
                self.check_about_panels(x, host, window)
                self.check_close_and_relaunch(x, host, window)

                self.assertEqual(host.call("native_application_factory", "eventByExit")[0], 0)
                self.assertEqual(host.process.wait(timeout=30), 0)

    def page(self, x, predicate, what):
        """What a screen reader finds (see a11y_tree.py) once predicate(found) holds."""
        seen = []

        def read():
            seen.append(json.loads(x.run(SYSTEM_PYTHON, os.path.join(HERE, "a11y_tree.py"), "quillon-host")))
            with contextlib.suppress(KeyError, TypeError):  # not (all) there yet
                return predicate(seen[-1])
        self.assertTrue(wait_for(read, 60, interval=0.2), "%s never showed; last seen: %s" % (what, seen[-1]))
        return seen[-1]

    def screenshot(self, x, state):
        os.makedirs(os.path.join(BUILD_DIR, "screenshots"), exist_ok=True)
        return x.gray(FRAME, os.path.join(BUILD_DIR, "screenshots", "status-%s.png" % state))

    def check_status_page(self, x, host, desktop, pulse, tree, first_port):
        """The page the window shows while no engine view fills it."""
        folder = os.path.join(x.runtime_dir, "recording")
        waiting = self.page(x, lambda p: p["Connection"] == "Waiting for the engine", "waiting")
        ports = [first_port + " (VID 1A86, PID 7523)"]
        self.assertEqual(values(waiting, "window", "Socket", "Status", "Sources", "Logging", "Microphone", "Ports"),
                         [["Quillon", FRAME], host.socket, "Idle", "None", "Off", 0, ports])
        shots = [self.screenshot(x, "waiting")]

        self.assertEqual(host.call("native_application_factory", "init", init_args(host.log_dir))[0], 0)
        second_port = add_acm_port(tree, 1, "0483", "5740")
        # A port the USB channel holds open is marked, even one no registry lists.
        pty = PtyDevice()
        self.addCleanup(pty.close)
        self.assertEqual(host.call("native_usb_factory", "open", {"path": pty.path})[:2], (0, "true\n"))
        ports += [second_port + " (VID 0483, PID 5740)", pty.path + ", open"]
        self.page(x, lambda p: (p["Logging"], p["Log folder"], p["Ports"]) == ("On", host.log_dir, ports), "the ports")

        listener = JsonLines([ENGINE, "--socket", host.socket, "listen"], host.env)
        self.addCleanup(listener.close)
        self.page(x, lambda p: p["Connection"] == "Connected", "the connected engine")
        shots.append(self.screenshot(x, "connected"))
        # Exit is only passed on: the host goes on serving, as the rest of this test shows.
        for name, method in (("checkUpdate", "menuOnUpdate"), ("openExit", "menuOnExit")):
            action(x, name)
            self.assertEqual(listener.next(), {"channel": "native_application_factory", "method": method,
                                               "arguments": None})
        listener.close()

        sounds = Sounds(pulse).start()
        self.addCleanup(sounds.stop)
        recorder = subprocess.Popen([ENGINE, "--socket", host.socket, "record", "--dir", folder],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=host.env)
        self.addCleanup(recorder.kill)
        self.page(x, lambda p: p["Status"] == "Recording" and p["Microphone"] > 0.6, "the microphone")
        sounds.play_tone_b()
        recording = self.page(x, lambda p: p["System audio"] > 0.5 and p["Elapsed"] != "0:00", "the system audio")
        self.assertEqual(values(recording, "Connection", "Sources", "Folder", "WAV file", "window"),
                         ["Connected", "Microphone and system audio", folder, os.path.join(folder, "recording.wav"),
                          ["Quillon — Recording", FRAME]])
        body = "Recording the microphone and the system audio into " + folder
        self.assertEqual(values(desktop.next(), "call", "summary", "body", "replaces"),
                         ["Notify", "Quillon is recording", body, 0])
        shots.append(self.screenshot(x, "recording"))

        recorder.send_signal(signal.SIGINT)
        _, err = recorder.communicate(timeout=60)
        self.assertEqual(recorder.returncode, 0, err)
        sounds.stop()
        idle = self.page(x, lambda p: p["Status"] == "Idle" and p["System audio"] == 0, "the stop")
        self.assertEqual(values(idle, "Connection", "Microphone", "Elapsed", "window"),
                         ["Waiting for the engine", 0, "—", ["Quillon", FRAME]])
        stopped = desktop.next()
        self.assertEqual((stopped["summary"], stopped["body"].endswith(" into " + folder)),
                         ("Quillon stopped recording", True), stopped)
        self.assertEqual(len(set(shots)), 3, "the pictures differ where the states do")

    def check_placement(self, x):
        # Across each edge of the frame: the pixel inside is the window's, the
        # one outside the bare (black) root. Nothing of the window lies beyond.
        left, top, width, height = FRAME
        right, bottom, row, column = left + width - 1, top + height - 1, top + height // 2, left + width // 2
        for rect, outside in (((left - 1, row, 2, 1), 0), ((right, row, 2, 1), 1),
                              ((column, top - 1, 1, 2), 0), ((column, bottom, 1, 2), 1)):
            pixels = x.gray(rect)
            self.assertEqual((pixels[outside], pixels[1 - outside] > 0), (0, True), rect)

    def check_background_tasks(self, host, manager, window):
        begin = ("background_activity_factory", "beginBackgroundTask")
        self.assertEqual(host.call(*begin, {"reason": "Recording"})[:2], (0, "null\n"))
        first = manager.next()
        self.assertEqual(values(first, "call", "app_id", "reason", "flags", "xid"),
                         ["Inhibit", APP_ID, "Recording", 4 | 8, window])  # suspend | idle
        # A second begin ends the first inhibition before it takes another.
        self.assertEqual(host.call(*begin)[:2], (0, "null\n"))
        self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": first["answer"]})
        second = manager.next()
        self.assertEqual(values(second, "call", "reason"), ["Inhibit", "Performing a long-running task"])
        self.assertEqual(host.call("background_activity_factory", "endBackgroundTask")[:2], (0, "null\n"))
        self.assertEqual(manager.next(), {"call": "Uninhibit", "cookie": second["answer"]})

    def check_about_panels(self, x, host, window):
        """A panel per request with the texts of its time; the menu keeps those of the launch."""
        version = "Version " + subprocess.run([HOST, "--version"], capture_output=True, text=True).stdout.strip()
        centred = [(1920 - 420) // 2, (1080 - 240) // 2, 420, 240]
        first = ["Quillon", centred, ["Quillon", version, "(c)"]]
        second = ["Voxbook", centred, ["Voxbook", version, LONG_COPYRIGHT]]
        action(x, "showAbout")  # answered once the panel is up, with the texts of then
        self.assertEqual(host.call("native_application_factory", "init",
                                   init_args(host.log_dir, "Voxbook", LONG_COPYRIGHT))[:2], (0, "true\n"))
        action(x, "showAbout")
        found = self.page(x, lambda p: first in p["windows"] and second in p["windows"], "the second About panel")
        self.assertEqual(found["menus"], {"Quillon": ["关于我们", "退出"]})

        self.assertTrue(wait_for(lambda: len(shown_windows(x)) == 3, 20), "not one window per panel")
        for panel in set(shown_windows(x)) - {window}:
            props = x.run("xprop", "-id", str(panel))
            for hint in ("_NET_WM_STATE_ABOVE", "minimum size: 420 by 240", "maximum size: 420 by 240"):
                self.assertIn(hint, props)
        # The long copyright wraps and is cut after two lines, inside its frame (rows 180-219).
        # GTK paints a window whole, so the first text seen there is all of it.
        lines = wait_for(lambda: text_lines(x.gray(centred), 420, range(170, 240)), 20)
        self.assertEqual([len(lines), all(180 <= top and bottom < 220 for top, bottom in lines)], [2, True], lines)

        # With panels open, the main window is still the one that comes to the front.
        action(x, "showMainWindow")
        self.assertTrue(wait_for(lambda: focused(x, window), 20))

    def check_close_and_relaunch(self, x, host, window):
        # The close button sits at the header bar's right end. A click that comes before GTK is
        # ready for it is tried again; once the window is gone a click lands on the bare root.
        def click_close():
            x.run("xdotool", "mousemove", str(FRAME[0] + FRAME[2] - 20), str(FRAME[1] + 22), "click", "1")
            return wait_for(lambda: window not in shown_windows(x), 3)
        self.assertTrue(wait_for(click_close, 30, interval=0), "the window did not hide")

        second = subprocess.run([HOST], env=host.env, capture_output=True, timeout=60)
        self.assertEqual(second.returncode, 0, second.stderr.decode())
        self.assertTrue(wait_for(lambda: window in shown_windows(x), 20), "the window did not come back")
        self.assertIsNone(host.process.poll(), "closing the window ended the process")
        self.assertTrue(wait_for(lambda: focused(x, window), 20), "the window is not the focused one")
        self.page(x, lambda p: p["window"][1] == FRAME, "the window in its place")


    def test_smaller_screen_keeps_the_size_and_the_formula_and_sigterm_quits(self):
        with Xvfb(1024, 600) as x, Host(env=x.env(), windowed=True) as host:
            self.page(x, lambda p: p["window"][1] == [-38, -50, 1100, 700], "the window in its place")
            host.process.terminate()
            self.assertEqual(host.process.wait(timeout=30), 0)
            self.assertFalse(os.path.exists(host.socket))


if __name__ == "__main__":
    unittest.main()
