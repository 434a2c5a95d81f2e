#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. Run from anywhere; the files are
checked in, so this only needs rerunning when the seeds should change."""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def size(n):
    if n < 254:
        return bytes([n])
    if n <= 0xFFFF:
        return bytes([254]) + struct.pack("<H", n)
    return bytes([255]) + struct.pack("<I", n)


def encode(value, out):
    """The message codec's encoding of a few Python types, enough for seeds."""
    if value is None:
        out += b"\x00"
    elif value is True:
        out += b"\x01"
    elif value is False:
        out += b"\x02"
    elif isinstance(value, int):
        if -2**31 <= value < 2**31:
            out += b"\x03" + struct.pack("<i", value)
        else:
            out += b"\x04" + struct.pack("<q", value)
    elif isinstance(value, float):
        out += b"\x06"
        out += b"\x00" * (-len(out) % 8)
        out += struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode()
        out += b"\x07" + size(len(data)) + data
    elif isinstance(value, bytes):
        out += b"\x08" + size(len(value)) + value
    elif isinstance(value, tuple):  # a float64 list
        out += b"\x0b" + size(len(value))
        out += b"\x00" * (-len(out) % 8)
        out += b"".join(struct.pack("<d", v) for v in value)
    elif isinstance(value, list):
        out += b"\x0c" + size(len(value))
        for item in value:
            encode(item, out)
    elif isinstance(value, dict):
        out += b"\x0d" + size(len(value))
        for key, item in value.items():
            encode(key, out)
            encode(item, out)
    return out


def message(value):
    return bytes(encode(value, bytearray()))


def method_call(name, args):
    return message(name) + message(args)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def codec_seeds():
    write("codec", "scalars", message([None, True, False, 7, -2**40, 1.5, "日本"]))
    write("codec", "typed_lists", message({"b": b"\x01\x02", "d": (0.5, -2.0), "n": [1, [2, {}]]}))
    write("codec", "long_string", message("x" * 300))
    write("codec", "call_init", method_call("init", {"logPath": "/tmp/l", "logEnable": True}))
    write("codec", "call_send", method_call("sendUsbBytesData", {"path": "/dev/x", "data": [165, 90, 1]}))
    write("codec", "envelope_ok", b"\x00" + message({"success": 0, "duration": 1000, "size": 32044}))
    write("codec", "envelope_error", b"\x01" + message("INVALID_ARGS") + message("Missing 'path'") + message(None))
    write("codec", "envelope_trace", b"\x01" + message("E") + message(None) + message(3) + message("trace"))


def frame(kind, reply_id, channel=None, payload=b""):
    body = bytes([kind]) + struct.pack("<I", reply_id)
    if channel is not None:
        name = channel.encode()
        body += struct.pack("<H", len(name)) + name
    body += payload
    return struct.pack("<I", len(body)) + body


def link_frame_seeds():
    call = method_call("open", {"path": "/dev/ttyACM0"})
    write("link_frame", "one_message", b"\x05" + frame(1, 7, "native_usb_factory", call))
    write("link_frame", "message_and_reply",
          b"\x31" + frame(1, 0, "native_audio_factory", method_call("onPcmData", b"\x00" * 16))
          + frame(2, 7, payload=b"\x00\x03\x01\x00\x00\x00"))
    write("link_frame", "empty_reply", b"\x02" + frame(2, 3))
    write("link_frame", "unknown_kind", b"\x07" + struct.pack("<I", 3) + b"\x09\x00\x00")
    write("link_frame", "zero_length", b"\x01" + struct.pack("<I", 0))
    write("link_frame", "partial", b"\x09" + frame(1, 1, "c", b"\x07\x01x")[:-2])


def hex_text_seeds():
    write("hex_text", "upper", b"A55A0102FF")
    write("hex_text", "lower_odd", b"a55a0")
    write("hex_text", "blanks", b" 1 2\t3x4")
    write("hex_text", "utf8", "A5中文5A".encode())
    write("hex_text", "invalid_utf8", b"A5\xff\xfe5A\xc0\xaf")


def channel_dispatch_seeds():
    rng = random.Random(20261206)
    for i in range(8):
        write("channel_dispatch", f"random_{i}", bytes(rng.randrange(256) for _ in range(rng.randrange(32, 400))))


if __name__ == "__main__":
    codec_seeds()
    link_frame_seeds()
    hex_text_seeds()
    channel_dispatch_seeds()
