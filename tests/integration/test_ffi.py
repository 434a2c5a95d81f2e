"""The exported C functions, called through ctypes on the built library with
a pseudo-terminal standing in for the recorder."""

import ctypes as c
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness
from pty_device import PtyDevice

MONITOR_CALLBACK = c.CFUNCTYPE(None, c.c_char_p, c.c_bool)
chars, out, size = c.c_char_p, c.c_void_p, c.c_int  # strings out kept as addresses, to be freed
FUNCTIONS = {
    "ffi_start_usb_monitor": ([MONITOR_CALLBACK], None),
    "ffi_open_usb": ([chars], c.c_bool),
    "ffi_close_usb": ([chars], None),
    "ffi_send_usb_hex_data": ([chars, chars], out),
    "ffi_send_usb_hex_data_and_close": ([chars, chars, size, chars], out),
    "ffi_send_usb_bytes_data": ([chars, chars, size], out),
    "ffi_read_usb_bytes_data": ([chars, c.POINTER(size)], out),
    "ffi_read_usb_hex_data": ([chars], out),
    "ffi_send_usb_bytes_and_read_usb_hex": ([chars, chars, size], out),
    "ffi_get_vid_pid": ([chars, c.POINTER(c.c_ushort), c.POINTER(c.c_ushort)], c.c_bool),
    "ffi_free_string": ([out], None)}

# Every function is looked up by name: a missing export fails here.
LIB = c.CDLL(harness.LIBRARY)
for _name, (_args, _result) in FUNCTIONS.items():
    getattr(LIB, _name).argtypes, getattr(LIB, _name).restype = _args, _result


def text(address):
    """Copies a returned string and gives the memory back."""
    value = c.string_at(address).decode() if address else None
    LIB.ffi_free_string(address)
    return value


def read_bytes(path):
    length = c.c_int(-1)
    address = LIB.ffi_read_usb_bytes_data(path, c.byref(length))
    value = c.string_at(address, length.value) if length.value > 0 else b""
    LIB.ffi_free_string(address)
    return value


class SerialThroughC(unittest.TestCase):
    def setUp(self):
        self.device = PtyDevice()
        self.path = self.device.path.encode()
        self.addCleanup(lambda: self.device.close())  # the device of the moment
        self.addCleanup(lambda: LIB.ffi_close_usb(self.path))

    def test_sends_reads_and_a_device_unplugged_during_a_reply(self):
        self.assertTrue(LIB.ffi_open_usb(self.path))
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"a1B2")), "REAL_SUCCESS")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_data(self.path, b"\x00\x0d\xff", 3)), "REAL_SUCCESS")
        self.assertEqual(self.device.receive(5), b"\xa1\xb2\x00\x0d\xff")
        self.device.send(b"\x10\x0d\x20")
        self.assertEqual(read_bytes(self.path), b"\x10\x0d\x20")
        self.device.send(b"\xab\xcd")
        self.assertEqual(text(LIB.ffi_read_usb_hex_data(self.path)), "ABCD")
        # The exchange opens its own descriptor and closes every one at the end.
        self.device.answer(2, b"\xbe\xef")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data_and_close(self.path, b"C0DE", 500, b"ffi")), "BEEF")
        self.assertEqual(self.device.join(), b"\xc0\xde")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"01")), "REAL_PORT_NOT_OPEN")

        # The recorder sends half a reply and disappears: the half that came
        # is answered, and later calls fail instead of hanging.
        self.assertTrue(LIB.ffi_open_usb(self.path))
        self.device.answer(2, b"\x01\x02\x03", unplug=True)
        self.assertEqual(text(LIB.ffi_send_usb_bytes_and_read_usb_hex(self.path, b"\x55\x66", 2)), "010203")
        self.device.join()
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"AA")), "REAL_WRITE_FAILED")
        self.assertEqual(text(LIB.ffi_read_usb_hex_data(self.path)), "")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data_and_close(self.path, b"01", 50, b"gone")), "")
        LIB.ffi_close_usb(self.path)
        # A recorder plugged in again is usable at once.
        self.device = PtyDevice()
        self.path = self.device.path.encode()
        self.assertTrue(LIB.ffi_open_usb(self.path))
        self.device.answer(1, b"\x7f")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_and_read_usb_hex(self.path, b"\x01", 1)), "7F")

    def test_bad_arguments_get_neutral_answers_and_unknown_identifiers(self):
        not_utf8 = b"/dev/\xff\xfe"
        self.assertEqual([LIB.ffi_open_usb(not_utf8), LIB.ffi_open_usb(None)], [False, False])
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
        vid, pid = c.c_ushort(0x1111), c.c_ushort(0x2222)
        for path in (self.path, b"/dev/\xff", None):
            self.assertFalse(LIB.ffi_get_vid_pid(path, c.byref(vid), c.byref(pid)))
        self.assertFalse(LIB.ffi_get_vid_pid(self.path, c.byref(vid), None))
        self.assertEqual((vid.value, pid.value), (0x1111, 0x2222))


class MonitorAndExports(unittest.TestCase):
    def test_monitor_reports_present_ports_once_off_the_callers_thread_and_only_the_c_functions_are_exported(self):
        events = []
        self.callback = MONITOR_CALLBACK(  # kept alive while the watcher may call it
            lambda path, added: events.append((path.decode(), added, threading.get_ident())))
        LIB.ffi_start_usb_monitor(self.callback)
        LIB.ffi_start_usb_monitor(self.callback)  # running already: harmless
        # Ports every registry must list: a sysfs device link and a node, and
        # not a platform 8250 UART (those may be placeholders).
        expected = ["/dev/" + n for n in os.listdir("/sys/class/tty")
                    if os.path.exists("/sys/class/tty/%s/device" % n) and os.path.exists("/dev/" + n)
                    and os.path.basename(os.path.realpath("/sys/class/tty/%s/device/driver" % n)) != "serial8250"]
        harness.wait_for(lambda: all((p, True) in [e[:2] for e in events] for p in expected))
        time.sleep(0.2)  # room for a duplicate to show
        seen = list(events)
        self.assertEqual(sorted(p for p, _, _ in seen if p in expected), sorted(expected), seen)
        for path, added, thread in seen:
            self.assertTrue(added and os.path.exists(path), path)
            self.assertNotEqual(thread, threading.get_ident())
        LIB.ffi_start_usb_monitor(c.cast(None, MONITOR_CALLBACK))  # no receiver: no crash

        listed = subprocess.run(["nm", "-D", "--defined-only", harness.LIBRARY],
                                capture_output=True, text=True, check=True).stdout
        self.assertEqual(sorted(line.split()[-1] for line in listed.splitlines()), sorted(FUNCTIONS))


MISSING_PORT = "/dev/quillon-no-such-port"
# The engine's process: loads the library, opens a port that is not there and stays until its
# input closes, as the day log is written off the caller's thread.
ENGINE_PROCESS = """import sys, test_ffi
print(test_ffi.LIB.ffi_open_usb(sys.argv[1].encode()), flush=True)
sys.stdin.read()"""


class DayLogOfAnotherProcess(unittest.TestCase):
    def test_another_process_logs_where_the_host_was_last_told_and_nowhere_without_a_record(self):
        root = self.enterContext(tempfile.TemporaryDirectory(prefix="quillon-ffi-log-"))
        logs, state = os.path.join(root, "logs"), os.path.join(root, "state")
        env = dict(os.environ, HOME=os.path.join(root, "home"), XDG_STATE_HOME=state)
        env.pop("XDG_DOCUMENTS_DIR", None)

        def engine(until=lambda: True):
            """Runs the engine's process, after its call has returned until `until()`; answers what it wrote."""
            child = subprocess.Popen([sys.executable, "-c", ENGINE_PROCESS, MISSING_PORT], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True,
                                     cwd=os.path.dirname(os.path.abspath(__file__)))
            self.assertEqual(child.stdout.readline(), "False\n")
            self.assertTrue(harness.wait_for(until))
            return child.communicate(timeout=20), child.returncode

        self.assertEqual(engine(), (("", ""), 0))
        self.assertEqual([files for _, _, files in os.walk(root) if files], [])
        with harness.Host(env=env, state_home=state) as host:
            for enable in (True, False, True):  # off removes the record
                code, reply, err = host.call("native_application_factory", "init",
                                             dict(harness.init_args(logs), logEnable=enable))
                self.assertEqual(code, 0, reply + err)
                self.assertEqual(os.path.exists(os.path.join(state, "quillon-host/log-folder")), enable)
        line = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\] \[\] %s$" % re.escape(
            harness.expected_log_line("kSerialOpenFailed") + MISSING_PORT), re.M)
        engine(until=lambda: line.search(harness.day_log(logs)))
        self.assertEqual(os.listdir(logs), ["native_%s.log" % time.strftime("%Y-%m-%d")])


if __name__ == "__main__":
    unittest.main()
