"""A real quillon-host driven over its engine link by the quillon-engine
command, from init to quitting."""

import json
import os
import shutil
import unittest

from harness import Host, day_log, init_args, wait_for
from pty_device import PtyDevice


class HostSpineTest(unittest.TestCase):
    def call(self, channel, method, args=None):
        """(exit code, reply): the reply decoded, but an unknown method's answer as it came."""
        code, out, err = self.host.call(channel, method, args)
        return code, (out if code == 2 else json.loads(out))

    def test_one_host_from_init_to_event_by_exit(self):
        with Host() as self.host:
            log_dir = self.host.log_dir
            self.assertEqual(self.call("native_application_factory", "init", init_args(log_dir)), (0, True))
            self.assertTrue(wait_for(lambda: f"[native_application_factory] [INFO] init. logPath: {log_dir}\n"
                                     in day_log(log_dir)))
            # Errors and unknown methods have exit codes of their own.
            self.assertEqual(self.call("native_usb_factory", "noSuchMethod", {}), (2, "not implemented\n"))
            self.assertEqual(self.call("native_usb_factory", "open", [1, 2]),
                             (1, {"error": "INVALID_ARGS", "message": "Missing 'path'", "details": None}))
            self.check_serial_commands()
            self.check_log_folder_removed()
            self.assertEqual(self.call("native_application_factory", "eventByExit"), (0, None))
            self.assertEqual(self.host.process.wait(timeout=10), 0)

    def check_serial_commands(self):
        device = PtyDevice()
        self.addCleanup(device.close)

        def usb(method, path=device.path, **args):
            return self.call("native_usb_factory", method, dict(args, path=path))
        self.assertEqual(usb("open"), (0, True))
        self.assertEqual(usb("sendUsbBytesData", data=[0, 15, 255]), (0, "REAL_SUCCESS"))
        self.assertEqual(device.receive(3), b"\x00\x0f\xff")
        device.send(b"\x10\x20\x30")
        self.assertEqual(usb("readUsbBytesData"), (0, [16, 32, 48]))
        self.assertEqual(usb("close"), (0, None))
        self.assertEqual(usb("sendUsbHexData", data="AA"), (0, "REAL_PORT_NOT_OPEN"))
        # A port that cannot open gets neutral answers.
        self.assertEqual(usb("open", path="/dev/quillon-missing"), (0, False))
        self.assertEqual(usb("readUsbBytesData", path="/dev/quillon-missing"), (0, []))

    def check_log_folder_removed(self):
        """Lines are lost quietly until the next init."""
        log_dir = self.host.log_dir
        shutil.rmtree(log_dir)
        # Calls that log keep being answered; nothing brings the folder back
        # behind the user's back.
        for _ in range(20):
            code, reply = self.call("native_audio_factory", "getWavDuration", {"path": "/nonexistent.wav"})
            self.assertEqual((code, reply["error"]), (1, "INVALID_FILE"))
        self.assertFalse(wait_for(lambda: os.path.exists(log_dir), 0.5))
        self.assertEqual(self.call("native_application_factory", "init", init_args(log_dir))[0], 0)
        self.assertTrue(wait_for(lambda: "init. logPath" in day_log(log_dir)))


if __name__ == "__main__":
    unittest.main()
