"""End to end: a real quillon-host driven over its engine link by the
quillon-engine command: the day log, serial commands reaching a device, the
replies' exit codes, the log folder removed under it, and quitting."""

import json
import os
import shutil
import threading
import unittest

from harness import Host, day_log, init_args, wait_for
from pty_device import PtyDevice


class HostSpineTest(unittest.TestCase):
    def test_one_host_from_init_to_event_by_exit(self):
        with Host() as host:
            code, out, err = host.call("native_application_factory", "init", init_args(host.log_dir))
            self.assertEqual((code, out.strip()), (0, "true"), err)
            self.assertTrue(wait_for(lambda: f"[native_application_factory] [INFO] init. logPath: {host.log_dir}\n"
                                     in day_log(host.log_dir)))
            # Errors and unknown methods have exit codes of their own.
            self.assertEqual(host.call("native_usb_factory", "noSuchMethod", {})[:2], (2, "not implemented\n"))
            code, out, _ = host.call("native_usb_factory", "open", [1, 2])
            self.assertEqual((code, json.loads(out)),
                             (1, {"error": "INVALID_ARGS", "message": "Missing 'path'", "details": None}))
            self.check_serial_commands(host)
            self.check_log_folder_removed(host)
            self.assertEqual(host.call("native_application_factory", "eventByExit")[:2], (0, "null\n"))
            self.assertEqual(host.process.wait(timeout=10), 0)

    def check_serial_commands(self, host):
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
        # A port that cannot open gets neutral answers.
        for method, neutral in (("open", False), ("readUsbBytesData", [])):
            code, out, _ = host.call("native_usb_factory", method, {"path": "/dev/quillon-missing"})
            self.assertEqual((code, json.loads(out)), (0, neutral))
        # The exchange opens its own descriptor, collects for the whole
        # window and closes again.
        device.answer(2, b"\x06\x07")
        self.assertEqual(usb("sendUsbHexDataAndClose", data="0102", timeout=600, trace="t1"), "0607")
        self.assertEqual(device.join(), b"\x01\x02")
        # The day log is written behind the replies.
        for line in ("[UsbFactory] [INFO] 打开串口成功: " + device.path,
                     "[UsbFactory] [INFO] [t1] [sendUsbHexDataAndClose] 收到响应，长度: 2"):
            self.assertTrue(wait_for(lambda: line in day_log(host.log_dir)), line)

    def check_log_folder_removed(self, host):
        """Lines are lost quietly until the next init."""
        shutil.rmtree(host.log_dir)
        # Calls that log keep being answered; nothing brings the folder back
        # behind the user's back.
        for _ in range(20):
            code, out, err = host.call("native_audio_factory", "getWavDuration", {"path": "/nonexistent.wav"})
            self.assertEqual(code, 1, err)
            self.assertIn("INVALID_FILE", out)
        self.assertFalse(wait_for(lambda: os.path.exists(host.log_dir), 0.5))
        self.assertEqual(host.call("native_application_factory", "init", init_args(host.log_dir))[0], 0)
        self.assertTrue(wait_for(lambda: "init. logPath" in day_log(host.log_dir)))
        # And goes on after it.
        host.call("native_audio_factory", "checkMicActive")
        self.assertTrue(wait_for(lambda: "engine connected" in day_log(host.log_dir).split("init. logPath", 1)[-1]))


if __name__ == "__main__":
    unittest.main()
