"""End to end: a real quillon-host driven over its engine link by the
quillon-engine command and by raw frames."""

import json
import os
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import unittest

from engine_session import EngineSession
from harness import ENGINE, Host, day_log, init_args, wait_for
from pty_device import PtyDevice


class HostSpineTest(unittest.TestCase):
    def test_init_writes_the_day_log_serial_commands_reach_the_device_and_event_by_exit_quits(self):
        with Host() as host:
            code, out, err = host.call("native_application_factory", "init", init_args(host.log_dir))
            self.assertEqual((code, out.strip()), (0, "true"), err)
            self.assertTrue(wait_for(lambda: f"[native_application_factory] [INFO] init. logPath: {host.log_dir}\n"
                                     in day_log(host.log_dir)))

            device = PtyDevice()
            self.addCleanup(device.close)

            def usb(method, **args):
                code, out, err = host.call("native_usb_factory", method, dict(args, path=device.path))
                self.assertEqual(code, 0, err)
                return json.loads(out)
            self.assertIs(usb("open"), True)
            self.assertEqual(usb("sendUsbHexData", data="a1B2c"), "REAL_SUCCESS")
            self.assertEqual(device.receive(2), b"\xa1\xb2")
            self.assertEqual(usb("sendUsbBytesData", data=[0, 15, 255]), "REAL_SUCCESS")
            self.assertEqual(device.receive(3), b"\x00\x0f\xff")
            # The device answers while the host is reading.
            answer = threading.Timer(0.2, device.send, args=(b"\x10\x20\x30",))
            answer.start()
            self.assertEqual(usb("readUsbBytesData"), [16, 32, 48])
            answer.join()
            self.assertIsNone(usb("close"))
            self.assertEqual(usb("sendUsbHexData", data="AA"), "REAL_PORT_NOT_OPEN")
            # The exchange opens its own descriptor, collects for the whole
            # window and closes again.
            device.answer(2, b"\x06\x07")
            self.assertEqual(usb("sendUsbHexDataAndClose", data="0102", timeout=600, trace="t1"), "0607")
            self.assertEqual(device.join(), b"\x01\x02")

            # The day log is written behind the replies.
            for line in ("[UsbFactory] [INFO] 打开串口成功: " + device.path,
                         "[UsbFactory] [INFO] [t1] [sendUsbHexDataAndClose] 收到响应，长度: 2"):
                self.assertTrue(wait_for(lambda: line in day_log(host.log_dir)), line)

            self.assertEqual(host.call("native_application_factory", "eventByExit")[:2], (0, "null\n"))
            self.assertEqual(host.process.wait(timeout=10), 0)

    def test_bad_calls_and_broken_connections_do_not_harm_the_next_engine_and_sigterm_quits(self):
        with Host() as host:
            self.assertEqual(host.call("native_usb_factory", "noSuchMethod", {})[:2], (2, "not implemented\n"))
            code, out, _ = host.call("native_usb_factory", "open", [1, 2])
            self.assertEqual((code, json.loads(out)),
                             (1, {"error": "INVALID_ARGS", "message": "Missing 'path'", "details": None}))
            code, out, _ = host.call("native_application_factory", "init", {"logPath": "/tmp"})
            self.assertEqual((code, json.loads(out)),
                             (1, {"error": "INVALID_ARGS", "message": "Missing paths", "details": None}))

            # A declared length beyond 64 MiB breaks the framing: the host hangs up.
            with socket.socket(socket.AF_UNIX) as bad:
                bad.connect(host.socket)
                bad.sendall(struct.pack("<I", 64 * 1024 * 1024 + 1) + b"\x01")
                bad.settimeout(10)
                self.assertEqual(bad.recv(1), b"")
            # A payload that does not decode is answered with an error envelope,
            # on a channel the host serves or not.
            undecodable = EngineSession(host.socket)
            self.addCleanup(undecodable.close)
            for channel in ("native_usb_factory", "no_such_factory"):
                self.assertEqual(undecodable.request(channel, b"\x07\xff\xff", timeout=10)[:1], b"\x01", channel)
            undecodable.close()

            code, out, _ = host.call("native_usb_factory", "readUsbHexData", {"path": "/nonexistent"})
            self.assertEqual((code, json.loads(out)), (0, ""))
            host.process.send_signal(signal.SIGTERM)
            self.assertEqual(host.process.wait(timeout=10), 0)
            self.assertFalse(os.path.exists(host.socket))

    def test_record_without_a_host_is_reported_and_creates_nothing(self):
        with tempfile.TemporaryDirectory(prefix="quillon-record-") as work:
            folder = os.path.join(work, "never")
            done = subprocess.run([ENGINE, "--socket", os.path.join(work, "none.sock"), "record", "--seconds", "1",
                                   "--dir", folder], capture_output=True, text=True, timeout=30)
            self.assertEqual(done.returncode, 3)
            self.assertIn("quillon-engine:", done.stderr)
            self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    unittest.main()
