"""Reading what a recording wrote: WAV samples, Opus frame records, tone
levels (Goertzel) and Opus decoding through libopus with ctypes."""

import ctypes
import ctypes.util
import math
import struct
import wave


def int16(data):
    return list(struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2]))


def wav_samples(path):
    """(sample rate, channels, list of int16 samples) of a 16-bit WAV file."""
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2, "16-bit WAV expected"
        return w.getframerate(), w.getnchannels(), int16(w.readframes(w.getnframes()))


def wav_data(path):
    """The bytes of the data chunk, as the header declares them."""
    with wave.open(path, "rb") as w:
        return w.readframes(w.getnframes())


def tone_level(samples, frequency, rate, scale=1.0 / 32768.0):
    """Amplitude (full scale 1.0) of one frequency in a stretch of samples."""
    if not samples:
        return 0.0
    w = 2.0 * math.pi * frequency / rate
    coeff = 2.0 * math.cos(w)
    s1 = s2 = 0.0
    for v in samples:
        s0 = v * scale + coeff * s1 - s2
        s2, s1 = s1, s0
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    return 2.0 * math.sqrt(max(power, 0.0)) / len(samples)


def opus_records(path):
    """The packets of an Opus frame file: 2-byte big-endian length, packet."""
    with open(path, "rb") as f:
        data = f.read()
    records, offset = [], 0
    while offset + 2 <= len(data):
        length = (data[offset] << 8) | data[offset + 1]
        records.append(data[offset:offset + 2 + length])
        offset += 2 + length
    if offset != len(data):
        raise ValueError("truncated Opus frame file")
    return records


def decode_opus_file(path):
    """The samples of an Opus frame file, decoded by a 16 kHz mono libopus decoder."""
    lib = ctypes.CDLL(ctypes.util.find_library("opus") or "libopus.so.0")
    lib.opus_decoder_create.restype = ctypes.c_void_p
    lib.opus_decode.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32,
                                ctypes.POINTER(ctypes.c_int16), ctypes.c_int, ctypes.c_int]
    decoder = lib.opus_decoder_create(16000, 1, None)
    samples, out = [], (ctypes.c_int16 * 5760)()
    for record in opus_records(path):
        n = lib.opus_decode(decoder, record[2:], len(record) - 2, out, 5760, 0)
        if n < 0:
            raise RuntimeError("opus_decode failed: %d" % n)
        samples += out[:n]
    return samples


def sine_pcm(frequency, rate, seconds, amplitude):
    """s16le mono PCM of a sine. A whole number of hertz makes whole cycles
    in a second, which is computed once and repeated."""
    n = int(rate * seconds)
    one = min(n, rate) if float(frequency).is_integer() else n
    cycle = struct.pack("<%dh" % one, *(int(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / rate))
                                         for i in range(one)))
    return (cycle * (n // max(one, 1) + 1))[:2 * n]
