"""An engine on one engine-link connection: calls the audio channel and, on a
reader thread, collects the "onPcmData" and "onOpusData" messages the host sends."""

import contextlib
import itertools
import socket
import struct
import threading

from harness import wait_for

AUDIO = "native_audio_factory"


def _size(n):
    return bytes([n]) if n < 254 else b"\xfe" + struct.pack("<H", n) if n <= 0xFFFF else b"\xff" + struct.pack("<I", n)


def encode(value):
    """The Standard codec's form of None, a bool, a string or a map of them."""
    if value is None or isinstance(value, bool):
        return {None: b"\x00", True: b"\x01", False: b"\x02"}[value]
    if isinstance(value, str):
        return b"\x07" + _size(len(value.encode())) + value.encode()
    return b"\x0d" + _size(len(value)) + b"".join(encode(k) + encode(v) for k, v in value.items())


class _Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def size(self):
        first = self.take(1)[0]
        return struct.unpack("<H", self.take(2))[0] if first == 254 else \
            struct.unpack("<I", self.take(4))[0] if first == 255 else first

    def value(self):
        kind = self.take(1)[0]
        if kind <= 2:
            return (None, True, False)[kind]
        if kind in (3, 4):
            return struct.unpack("<i" if kind == 3 else "<q", self.take(4 if kind == 3 else 8))[0]
        if kind in (7, 8):
            data = bytes(self.take(self.size()))
            return data.decode() if kind == 7 else data
        if kind == 13:
            return {self.value(): self.value() for _ in range(self.size())}
        raise ValueError("value kind %d not handled" % kind)


class EngineSession:
    def __init__(self, socket_path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # The socket's file appears at bind(), a moment before the host
        # listens: on a loaded machine a first try can come in between.
        if not wait_for(lambda: self.sock.connect_ex(socket_path) == 0, 10, interval=0.05):
            raise ConnectionRefusedError(socket_path)
        self.lock = threading.Condition()
        self.replies = {}
        self.pcm = []   # every "onPcmData" payload, in arrival order
        self.opus = []  # every "onOpusData" payload
        self.ids = itertools.count(1)
        self.closed = False
        self.thread = threading.Thread(target=self._read_loop, daemon=True)
        self.thread.start()

    def _recv_exact(self, n):
        data = self.sock.recv(n, socket.MSG_WAITALL)
        if len(data) < n:
            raise EOFError
        return data

    def _read_loop(self):
        try:
            while True:
                body = self._recv_exact(struct.unpack("<I", self._recv_exact(4))[0])
                if body[0] == 2:  # a reply: its id, then the envelope
                    with self.lock:
                        self.replies[struct.unpack("<I", body[1:5])[0]] = body[5:]
                        self.lock.notify_all()
                elif body[0] == 1:  # a message: reply id, channel, then method and argument
                    name_length = struct.unpack("<H", body[5:7])[0]
                    reader = _Reader(body[7 + name_length:])
                    method, argument = reader.value(), reader.value()
                    if body[7:7 + name_length].decode() == AUDIO and method in ("onPcmData", "onOpusData"):
                        with self.lock:
                            (self.pcm if method == "onPcmData" else self.opus).append(argument)
        except (EOFError, OSError):
            with self.lock:
                self.closed = True
                self.lock.notify_all()

    def call(self, method, args=None, timeout=60.0):
        """The success value of a call on the audio channel; RuntimeError otherwise."""
        reply_id = next(self.ids)
        body = struct.pack("<BIH", 1, reply_id, len(AUDIO)) + AUDIO.encode() + encode(method) + encode(args)
        self.sock.sendall(struct.pack("<I", len(body)) + body)
        with self.lock:
            self.lock.wait_for(lambda: reply_id in self.replies or self.closed, timeout)
            envelope = self.replies.pop(reply_id, None)
        if not envelope:
            raise RuntimeError("%s: %s" % (method, "not implemented" if envelope == b"" else "no reply"))
        reader = _Reader(envelope)
        if reader.take(1)[0] == 0:
            return reader.value()
        raise RuntimeError("%s: %s %s" % (method, reader.value(), reader.value()))

    def counts(self):
        with self.lock:
            return len(self.pcm), len(self.opus)

    def pcm_bytes(self):
        with self.lock:
            return sum(len(block) for block in self.pcm)

    def close(self):
        with contextlib.suppress(OSError):
            self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()
        self.thread.join(timeout=10)
