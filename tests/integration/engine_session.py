"""An engine on one engine-link connection: calls the audio channel and, on a
reader thread, collects the "onPcmData" and "onOpusData" messages the host
sends meanwhile. Speaks the subset of the Standard codec these messages use."""

import socket
import struct
import threading
import time

AUDIO = "native_audio_factory"


def _size(n):
    return bytes([n]) if n < 254 else b"\xfe" + struct.pack("<H", n) if n <= 0xFFFF else b"\xff" + struct.pack("<I", n)


def encode(value):
    if value is None or isinstance(value, bool):
        return {None: b"\x00", True: b"\x01", False: b"\x02"}[value]
    if isinstance(value, str):
        data = value.encode()
        return b"\x07" + _size(len(data)) + data
    if isinstance(value, dict):
        return b"\x0d" + _size(len(value)) + b"".join(encode(k) + encode(v) for k, v in value.items())
    raise TypeError("cannot encode %r" % (value,))


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


class EngineError(Exception):
    pass


class EngineSession:
    def __init__(self, socket_path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # The socket's file appears at bind(), a moment before the host
        # listens: on a loaded machine a first try can come in between.
        deadline = time.monotonic() + 10
        while True:
            try:
                self.sock.connect(socket_path)
                break
            except ConnectionRefusedError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.lock = threading.Condition()
        self.replies = {}
        self.pcm = []   # every "onPcmData" payload, in arrival order
        self.opus = []  # every "onOpusData" payload
        self.next_id = 1
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
                (length,) = struct.unpack("<I", self._recv_exact(4))
                body = self._recv_exact(length)
                if body[0] == 2:
                    (reply_id,) = struct.unpack("<I", body[1:5])
                    with self.lock:
                        self.replies[reply_id] = body[5:]
                        self.lock.notify_all()
                elif body[0] == 1:
                    reply_id, name_length = struct.unpack("<IH", body[1:7])
                    channel = body[7:7 + name_length].decode()
                    reader = _Reader(body[7 + name_length:])
                    method, argument = reader.value(), reader.value()
                    if channel == AUDIO and method in ("onPcmData", "onOpusData"):
                        with self.lock:
                            (self.pcm if method == "onPcmData" else self.opus).append(argument)
        except (EOFError, OSError):
            with self.lock:
                self.closed = True
                self.lock.notify_all()

    def request(self, channel, payload, timeout=60.0):
        """Sends one message; returns the reply's envelope (None if none came)."""
        with self.lock:
            reply_id = self.next_id
            self.next_id += 1
        name = channel.encode()
        body = struct.pack("<BIH", 1, reply_id, len(name)) + name + payload
        self.sock.sendall(struct.pack("<I", len(body)) + body)
        with self.lock:
            self.lock.wait_for(lambda: reply_id in self.replies or self.closed, timeout)
            return self.replies.pop(reply_id, None)

    def call(self, method, args=None, timeout=60.0):
        """The success value of a call on the audio channel; EngineError otherwise."""
        envelope = self.request(AUDIO, encode(method) + encode(args), timeout)
        if envelope is None:
            raise EngineError("no reply to " + method)
        if not envelope:
            raise EngineError(method + ": not implemented")
        reader = _Reader(envelope)
        if reader.take(1)[0] == 0:
            return reader.value()
        raise EngineError("%s: %s %s" % (method, reader.value(), reader.value()))

    def counts(self):
        with self.lock:
            return len(self.pcm), len(self.opus)

    def pcm_bytes(self):
        with self.lock:
            return sum(len(block) for block in self.pcm)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.thread.join(timeout=10)
