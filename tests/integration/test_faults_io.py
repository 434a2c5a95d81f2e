"""Faults outside the audio path: the log folder removed under a running host,
and the recorder's serial port vanishing in the middle of an exchange."""

import ctypes
import os
import shutil
import threading
import time
import unittest

from harness import Host, day_log, init_args, wait_for
from pty_device import PtyDevice
from test_ffi import LIB, text


class LogFolderRemovedTest(unittest.TestCase):
    def test_lines_are_lost_quietly_until_the_next_init(self):
        with Host() as host:
            log_dir = host.log_dir
            code, _, err = host.call("native_application_factory", "init", init_args(log_dir))
            self.assertEqual(code, 0, err)
            self.assertTrue(wait_for(lambda: "init. logPath" in day_log(log_dir)))
            shutil.rmtree(log_dir)

            # Calls that log keep being answered; nothing brings the folder back
            # behind the user's back.
            for _ in range(20):
                code, out, err = host.call("native_audio_factory", "getWavDuration",
                                           {"path": "/nonexistent.wav"})
                self.assertEqual(code, 1, err)
                self.assertIn("INVALID_FILE", out)
            self.assertIsNone(host.process.poll())
            self.assertFalse(os.path.exists(log_dir))

            code, _, err = host.call("native_application_factory", "init", init_args(log_dir))
            self.assertEqual(code, 0, err)
            self.assertTrue(wait_for(lambda: "init. logPath" in day_log(log_dir)))
            # And goes on after it.
            host.call("native_audio_factory", "checkMicActive")
            self.assertTrue(wait_for(
                lambda: "engine connected" in day_log(log_dir).split("init. logPath", 1)[-1]))


class SerialPortVanishesTest(unittest.TestCase):
    def setUp(self):
        self.device = PtyDevice()
        self.path = self.device.path.encode()
        self.addCleanup(lambda: self.device.close())
        self.addCleanup(lambda: LIB.ffi_close_usb(self.path))

    def unplug_during(self, exchange, reply):
        """The recorder sends part of a reply to the exchange's command and
        disappears; returns what the exchange answered."""
        def half_reply_then_unplug():
            self.device.receive(2)
            self.device.send(reply)
            time.sleep(0.05)
            self.device.unplug()
        device = threading.Thread(target=half_reply_then_unplug)
        device.start()
        started = time.monotonic()
        answer = text(exchange())
        device.join()
        self.assertLess(time.monotonic() - started, 10)
        return answer

    def test_unplugged_during_a_reply(self):
        self.assertTrue(LIB.ffi_open_usb(self.path))
        # The half that came is answered, promptly, and later sends fail instead of hanging.
        self.assertEqual(self.unplug_during(
            lambda: LIB.ffi_send_usb_bytes_and_read_usb_hex(self.path, b"\x55\x66", 2), b"\x01\x02\x03"), "010203")
        self.assertEqual(text(LIB.ffi_send_usb_hex_data(self.path, b"AA")), "REAL_WRITE_FAILED")
        length = ctypes.c_int(-1)
        LIB.ffi_free_string(LIB.ffi_read_usb_bytes_data(self.path, ctypes.byref(length)))
        self.assertEqual(length.value, 0)
        LIB.ffi_close_usb(self.path)

        # A recorder plugged in again is usable at once.
        self.device = PtyDevice()
        self.path = self.device.path.encode()
        self.assertTrue(LIB.ffi_open_usb(self.path))
        self.device.answer(1, b"\x7f")
        self.assertEqual(text(LIB.ffi_send_usb_bytes_and_read_usb_hex(self.path, b"\x01", 1)), "7F")
        self.device.join()

    def test_unplugged_during_an_exchange_that_reopens_the_port(self):
        self.assertEqual(self.unplug_during(
            lambda: LIB.ffi_send_usb_hex_data_and_close(self.path, b"C0DE", 1000, b"fault"), b"\xbe"), "BE")
        # The port is gone: a new exchange answers nothing, quickly.
        started = time.monotonic()
        self.assertEqual(text(LIB.ffi_send_usb_hex_data_and_close(self.path, b"C0DE", 300, b"gone")), "")
        self.assertLess(time.monotonic() - started, 10)


if __name__ == "__main__":
    unittest.main()
