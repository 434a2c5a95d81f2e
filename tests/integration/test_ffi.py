"""The exported C functions, called through ctypes on the built library with
a pseudo-terminal standing in for the recorder."""

import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness
from pty_device import PtyDevice

MONITOR_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_bool)


c = ctypes
chars, out, size = c.c_char_p, c.c_void_p, c.c_int  # strings out kept as addresses, to be freed
FUNCTIONS = (
    ("ffi_start_usb_monitor", [MONITOR_CALLBACK], None),
    ("ffi_open_usb", [chars], c.c_bool),
    ("ffi_close_usb", [chars], None),
    ("ffi_send_usb_hex_data", [chars, chars], out),
    ("ffi_send_usb_hex_data_and_close", [chars, chars, size, chars], out),
    ("ffi_send_usb_bytes_data", [chars, chars, size], out),
    ("ffi_read_usb_bytes_data", [chars, c.POINTER(size)], out),
    ("ffi_read_usb_hex_data", [chars], out),
    ("ffi_send_usb_bytes_and_read_usb_hex", [chars, chars, size], out),
    ("ffi_get_vid_pid", [chars, c.POINTER(c.c_ushort), c.POINTER(c.c_ushort)], c.c_bool),
    ("ffi_free_string", [out], None))


def load():
    # Every function is looked up by name: a missing export fails here.
    lib = ctypes.CDLL(harness.LIBRARY)
    for name, args, result in FUNCTIONS:
        getattr(lib, name).argtypes = args
        getattr(lib, name).restype = result
    return lib


LIB = load()


def text(address):
    """Copies a returned string and gives the memory back."""
    try:
        return ctypes.string_at(address).decode() if address else None
    finally:
        LIB.ffi_free_string(address)


def read_bytes(path):
    length = ctypes.c_int(-1)
    address = LIB.ffi_read_usb_bytes_data(path, ctypes.byref(length))
    try:
        return ctypes.string_at(address, length.value) if length.value > 0 else b""
    finally:
        LIB.ffi_free_string(address)


class SerialThroughC(unittest.TestCase):
    def setUp(self):
        self.device = PtyDevice()
        self.path = self.device.path.encode()

    def tearDown(self):
        LIB.ffi_close_usb(self.path)
        self.device.close()

    def test_sends_and_reads(self):
        self.assertTrue(LIB.ffi_open_usb(self.path))
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"a1B2")), "REAL_SUCCESS")
        self.assertEqual(self.device.receive(2), b"\xa1\xb2")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_data(self.path, b"\x00\x0d\xff", 3)),
                         "REAL_SUCCESS")
        self.assertEqual(self.device.receive(3), b"\x00\x0d\xff")

        self.device.send(b"\x10\x0d\x20")
        self.assertEqual(read_bytes(self.path), b"\x10\x0d\x20")
        self.device.send(b"\xab\xcd")
        self.assertEqual(text(LIB.ffi_read_usb_hex_data(self.path)), "ABCD")

        self.device.answer(2, b"\x01\x02\x03")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_and_read_usb_hex(self.path, b"\x55\x66", 2)),
                         "010203")
        self.assertEqual(self.device.join(), b"\x55\x66")

        # The exchange opens its own descriptor and closes every one at the end.
        self.device.answer(2, b"\xbe\xef", delay=0.1)
        self.assertEqual(
            text(LIB.ffi_send_usb_hex_data_and_close(self.path, b"C0DE", 500, b"ffi")), "BEEF")
        self.assertEqual(self.device.join(), b"\xc0\xde")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"01")), "REAL_PORT_NOT_OPEN")

    def test_bad_arguments_get_neutral_answers_and_unknown_identifiers(self):
        not_utf8 = b"/dev/\xff\xfe"
        self.assertFalse(LIB.ffi_open_usb(not_utf8))
        self.assertFalse(LIB.ffi_open_usb(None))
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(not_utf8, b"01")), "REAL_PORT_NOT_OPEN")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(None, None)), "REAL_PORT_NOT_OPEN")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data_and_close(None, None, 10, None)), "")
        self.assertEqual(text(LIB.ffi_read_usb_hex_data(None)), "")
        LIB.ffi_close_usb(None)

        self.assertTrue(LIB.ffi_open_usb(self.path))
        # A null text is empty: nothing written, success.
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, None)), "REAL_SUCCESS")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_data(self.path, None, 0)), "REAL_SUCCESS")
        # Promised bytes that are not there, or a negative count: refused, nothing read.
        for send in (LIB.ffi_send_usb_bytes_data, LIB.ffi_send_usb_bytes_and_read_usb_hex):
            self.assertEqual(text(send(self.path, None, 4)), "REAL_WRITE_FAILED")
            self.assertEqual(text(send(self.path, b"\x01", -1)), "REAL_WRITE_FAILED")
        self.assertEqual(self.device.receive(1, timeout=0.3), b"")

        self.device.send(b"\x42")
        self.assertIsNone(LIB.ffi_read_usb_bytes_data(self.path, None))
        self.assertEqual(read_bytes(self.path), b"\x42")  # the null call read nothing
        self.assertEqual(read_bytes(self.path), b"")  # a zero count, and the pointer freed

        # Identifiers are refused for ports that are no USB device, and left alone.
        vid, pid = ctypes.c_ushort(0x1111), ctypes.c_ushort(0x2222)
        for path in (self.path, b"/dev/\xff", b"/dev/no-such-port"):
            self.assertFalse(LIB.ffi_get_vid_pid(path, ctypes.byref(vid), ctypes.byref(pid)))
        self.assertFalse(LIB.ffi_get_vid_pid(None, ctypes.byref(vid), ctypes.byref(pid)))
        self.assertFalse(LIB.ffi_get_vid_pid(self.path, ctypes.byref(vid), None))
        self.assertEqual((vid.value, pid.value), (0x1111, 0x2222))


def usb_or_pnp_ports():
    """Ports every registry must list: a sysfs device link and a node, and not
    a platform 8250 UART (those may be placeholders)."""
    ports = []
    for name in sorted(os.listdir("/sys/class/tty")):
        entry = os.path.join("/sys/class/tty", name)
        if not os.path.exists(os.path.join(entry, "device")):
            continue
        driver = os.path.realpath(os.path.join(entry, "device", "driver"))
        if os.path.basename(driver) == "serial8250" or not os.path.exists("/dev/" + name):
            continue
        ports.append("/dev/" + name)
    return ports


class MonitorThroughC(unittest.TestCase):
    events = []
    threads = set()
    lock = threading.Lock()

    @staticmethod
    @MONITOR_CALLBACK
    def record(path, added):
        with MonitorThroughC.lock:
            MonitorThroughC.events.append((path.decode(), bool(added)))
            MonitorThroughC.threads.add(threading.get_ident())

    def test_present_ports_reported_once_on_the_watcher_thread(self):
        LIB.ffi_start_usb_monitor(MonitorThroughC.record)
        LIB.ffi_start_usb_monitor(MonitorThroughC.record)  # running already: harmless
        expected = usb_or_pnp_ports()
        harness.wait_for(lambda: all((p, True) in self.events for p in expected), timeout=10)
        time.sleep(0.2)  # room for a duplicate to show
        with self.lock:
            events, threads = list(self.events), set(self.threads)
        for path in expected:
            self.assertEqual(events.count((path, True)), 1, events)
        for path, added in events:
            self.assertTrue(added)
            self.assertTrue(os.path.exists(path), path)
        self.assertNotIn(threading.get_ident(), threads)
        LIB.ffi_start_usb_monitor(ctypes.cast(None, MONITOR_CALLBACK))  # no receiver: no crash


class Exports(unittest.TestCase):
    def test_the_library_exports_the_c_functions_and_nothing_else(self):
        listed = subprocess.run(["nm", "-D", "--defined-only", harness.LIBRARY],
                                capture_output=True, text=True, check=True).stdout
        self.assertEqual(sorted(line.split()[-1] for line in listed.splitlines()),
                         sorted(name for name, _, _ in FUNCTIONS))


MISSING_PORT = "/dev/quillon-no-such-port"
# The engine's process: loads the library, opens a port that is not there and stays until its
# input closes, as the day log is written off the caller's thread.
ENGINE_PROCESS = """
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.ffi_open_usb.argtypes, lib.ffi_open_usb.restype = [ctypes.c_char_p], ctypes.c_bool
print(lib.ffi_open_usb(sys.argv[2].encode()), flush=True)
sys.stdin.read()
"""


class DayLogOfAnotherProcess(unittest.TestCase):
    """Another process logs where the host was last told at "init", and nowhere without a record."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillon-ffi-log-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.logs, self.state = os.path.join(self.root, "logs"), os.path.join(self.root, "state")
        self.env = dict(os.environ, HOME=os.path.join(self.root, "home"), XDG_STATE_HOME=self.state)
        self.env.pop("XDG_DOCUMENTS_DIR", None)

    def init(self, host, enable):
        code, reply, err = host.call("native_application_factory", "init",
                                     dict(harness.init_args(self.logs), logEnable=enable))
        self.assertEqual(code, 0, reply + err)

    def engine(self):
        """Starts the engine's process; returns it once its call has returned."""
        child = subprocess.Popen([sys.executable, "-c", ENGINE_PROCESS, harness.LIBRARY, MISSING_PORT],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=self.env, text=True)
        self.assertEqual(child.stdout.readline(), "False\n")
        return child

    def test_lines_go_to_the_day_log_of_the_folder_told_at_init(self):
        with harness.Host(env=self.env, state_home=self.state) as host:
            self.init(host, True)
        child = self.engine()
        line = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\] \[\] %s$" % re.escape(
            harness.expected_log_line("kSerialOpenFailed") + MISSING_PORT), re.M)
        logged = harness.wait_for(lambda: line.search(harness.day_log(self.logs)))
        child.communicate(timeout=20)
        self.assertTrue(logged, harness.day_log(self.logs))
        self.assertEqual(os.listdir(self.logs), ["native_%s.log" % time.strftime("%Y-%m-%d")])

    def test_silent_without_a_recorded_folder_which_init_removes_when_logging_is_off(self):
        child = self.engine()
        self.assertEqual((child.communicate(timeout=20), child.returncode), (("", ""), 0))
        self.assertEqual([files for _, _, files in os.walk(self.root) if files], [])
        with harness.Host(env=self.env, state_home=self.state) as host:
            for enable in (True, False):
                self.init(host, enable)
                self.assertEqual(os.path.exists(os.path.join(self.state, "quillon-host/log-folder")), enable)


if __name__ == "__main__":
    unittest.main()
