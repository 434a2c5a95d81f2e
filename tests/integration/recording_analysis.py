"""Reading what a recording wrote: WAV samples, Opus frame records and
their decoding through libopus, tone levels."""

import cmath
import ctypes
import ctypes.util
import math
import pathlib
import struct
import wave


def int16(data):
    return list(struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2]))


def wav_data(path):
    """(sample rate, channels, the bytes of the data chunk as the header declares them)."""
    with wave.open(path, "rb") as w:
        return w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())


def wav_samples(path):
    rate, channels, data = wav_data(path)
    return rate, channels, int16(data)


def tone_level(samples, frequency, rate, scale=1.0 / 32768.0):
    """Amplitude (full scale 1.0) of one frequency in a stretch of samples."""
    if not samples:
        return 0.0
    w = 2.0 * math.pi * frequency / rate
    return 2.0 * scale * abs(sum(v * cmath.exp(-1j * w * i) for i, v in enumerate(samples))) / len(samples)


def opus_records(path):
    """The packets of an Opus frame file: 2-byte big-endian length, packet."""
    data, records, offset = pathlib.Path(path).read_bytes(), [], 0
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
    decoder = ctypes.c_void_p(lib.opus_decoder_create(16000, 1, None))
    samples, out = [], (ctypes.c_int16 * 5760)()
    for record in opus_records(path):
        n = lib.opus_decode(decoder, record[2:], len(record) - 2, out, 5760, 0)
        if n < 0:
            raise RuntimeError("opus_decode failed: %d" % n)
        samples += out[:n]
    return samples


def sine_pcm(frequency, rate, seconds, amplitude):
    """s16le mono PCM of a sine of a whole number of hertz: one second made and repeated."""
    n = int(rate * seconds)
    second = struct.pack("<%dh" % rate, *(int(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / rate))
                                          for i in range(rate)))
    return (second * (n // rate + 1))[:2 * n]
