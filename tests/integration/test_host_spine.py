"""End to end: a real quillon-host driven over its engine link by the
quillon-engine command and by raw frames."""

import json
import os
import select
import signal
import struct
import threading
import time
import unittest

from harness import Host, wait_for


def init_args(log_dir):
    return {"logPath": log_dir, "logEnable": True, "applicationName": "Quillon", "menuAbout": "About",
            "menuUpdate": "Update", "menuSettings": "Settings", "menuOpen": "Open", "menuExit": "Exit",
            "menuAboutCopyrightTip": "(c)"}


def day_log(log_dir):
    names = [n for n in os.listdir(log_dir) if n.startswith("native_") and n.endswith(".log")]
    if len(names) != 1:
        return ""
    with open(os.path.join(log_dir, names[0]), encoding="utf-8") as f:
        return f.read()


class PtyDevice:
    """The recorder's side of a pseudo-terminal; the host opens `path`."""

    def __init__(self):
        self.master, slave = os.openpty()
        self.path = os.ttyname(slave)
        self._slave = slave  # held open so the master never reads EIO between host opens

    def read(self, count, timeout=5.0):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                data += os.read(self.master, count - len(data))
        return data

    def write(self, data):
        os.write(self.master, data)

    def close(self):
        os.close(self.master)
        os.close(self._slave)


def message_frame(channel, payload, reply_id):
    name = channel.encode()
    body = struct.pack("<BIH", 1, reply_id, len(name)) + name + payload
    return struct.pack("<I", len(body)) + body


def read_frame(sock, timeout=10.0):
    sock.settimeout(timeout)
    header = b""
    while len(header) < 4:
        chunk = sock.recv(4 - len(header))
        if not chunk:
            return None
        header += chunk
    (length,) = struct.unpack("<I", header)
    body = b""
    while len(body) < length:
        chunk = sock.recv(length - len(body))
        if not chunk:
            return None
        body += chunk
    return body


class HostSpineTest(unittest.TestCase):
    def test_init_writes_the_day_log_and_serial_commands_reach_the_device(self):
        with Host() as host:
            log_dir = os.path.join(host.dir, "logs")
            code, out, err = host.call("native_application_factory", "init", init_args(log_dir))
            self.assertEqual((code, out.strip()), (0, "true"), err)
            self.assertTrue(wait_for(lambda: f"[native_application_factory] [INFO] init. logPath: {log_dir}\n"
                                     in day_log(log_dir)))

            device = PtyDevice()
            try:
                code, out, _ = host.call("native_usb_factory", "open", {"path": device.path})
                self.assertEqual((code, out.strip()), (0, "true"))
                code, out, _ = host.call("native_usb_factory", "sendUsbHexData",
                                         {"path": device.path, "data": "a1B2c"})
                self.assertEqual(json.loads(out), "REAL_SUCCESS")
                self.assertEqual(device.read(2), b"\xa1\xb2")
                code, out, _ = host.call("native_usb_factory", "sendUsbBytesData",
                                         {"path": device.path, "data": [0, 15, 255]})
                self.assertEqual(json.loads(out), "REAL_SUCCESS")
                self.assertEqual(device.read(3), b"\x00\x0f\xff")

                # The device answers while the host is reading.
                answer = threading.Timer(0.2, device.write, args=(b"\x10\x20\x30",))
                answer.start()
                code, out, _ = host.call("native_usb_factory", "readUsbBytesData", {"path": device.path})
                answer.join()
                self.assertEqual(json.loads(out), [16, 32, 48])

                code, out, _ = host.call("native_usb_factory", "close", {"path": device.path})
                self.assertEqual((code, out.strip()), (0, "null"))
                code, out, _ = host.call("native_usb_factory", "sendUsbHexData",
                                         {"path": device.path, "data": "AA"})
                self.assertEqual(json.loads(out), "REAL_PORT_NOT_OPEN")

                # The exchange opens its own descriptor, collects for the whole
                # window and closes again.
                responder = threading.Thread(
                    target=lambda: device.read(2) and device.write(b"\x06\x07"))
                responder.start()
                code, out, _ = host.call("native_usb_factory", "sendUsbHexDataAndClose",
                                         {"path": device.path, "data": "0102", "timeout": 600, "trace": "t1"})
                responder.join()
                self.assertEqual(json.loads(out), "0607")
            finally:
                device.close()

            log = day_log(log_dir)
            self.assertIn("[UsbFactory] [INFO] 打开串口成功: " + device.path, log)
            self.assertIn("[UsbFactory] [INFO] [t1] [sendUsbHexDataAndClose] 收到响应，长度: 2", log)

    def test_unknown_methods_and_bad_arguments(self):
        with Host() as host:
            code, out, _ = host.call("native_usb_factory", "noSuchMethod", {})
            self.assertEqual((code, out.strip()), (2, "not implemented"))
            code, out, _ = host.call("native_usb_factory", "open", [1, 2])
            self.assertEqual(code, 1)
            self.assertEqual(json.loads(out)["error"], "INVALID_ARGS")
            self.assertEqual(json.loads(out)["message"], "Missing 'path'")
            code, out, _ = host.call("native_application_factory", "init", {"logPath": "/tmp"})
            self.assertEqual(json.loads(out), {"error": "INVALID_ARGS", "message": "Missing paths", "details": None})

    def test_a_broken_connection_does_not_harm_the_next_engine(self):
        with Host() as host:
            bad = host.connect()
            # A declared length beyond 64 MiB breaks the framing: the host hangs up.
            bad.sendall(struct.pack("<I", 64 * 1024 * 1024 + 1) + b"\x01")
            self.assertIsNone(read_frame(bad))
            bad.close()

            undecodable = host.connect()
            undecodable.sendall(message_frame("native_usb_factory", b"\x07\xff\xff", 9))
            reply = read_frame(undecodable)
            self.assertIsNotNone(reply)
            kind, reply_id = struct.unpack("<BI", reply[:5])
            self.assertEqual((kind, reply_id), (2, 9))
            self.assertEqual(reply[5], 1, "an error envelope")
            undecodable.close()

            code, out, _ = host.call("native_usb_factory", "readUsbHexData", {"path": "/nonexistent"})
            self.assertEqual((code, json.loads(out)), (0, ""))
            self.assertIsNone(host.process.poll())

    def test_event_by_exit_and_sigterm_end_the_process_in_order(self):
        with Host() as host:
            log_dir = os.path.join(host.dir, "logs")
            host.call("native_application_factory", "init", init_args(log_dir))
            code, out, _ = host.call("native_application_factory", "eventByExit")
            self.assertEqual((code, out.strip()), (0, "null"))
            self.assertEqual(host.process.wait(timeout=10), 0)
            self.assertIn("init. logPath", day_log(log_dir))
        with Host() as host:
            host.process.send_signal(signal.SIGTERM)
            self.assertEqual(host.process.wait(timeout=10), 0)
            self.assertFalse(os.path.exists(host.socket))


if __name__ == "__main__":
    unittest.main()
