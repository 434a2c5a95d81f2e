"""What the user hears and what the recording holds, measured from outside
the host; shared by the tests and the benchmarks that print the same figures."""

import contextlib
import fcntl
import itertools
import math
import os
import re
import subprocess
import termios
import threading
import time

from harness import stop
from recording_analysis import int16, sine_pcm, tone_level

RATE = 16000
MIC_TONE = 440.0
SYSTEM_TONE = 1000.0


def rms(samples):
    return math.sqrt(sum(v * v for v in samples) / len(samples)) if samples else 0.0


def db(ratio):
    return 20 * math.log10(max(ratio, 1e-9))


def onsets(samples, frequency, threshold, window=0.005, gap=0.5):
    """Start times (s) of the bursts of one frequency in 16 kHz samples of -1..1."""
    step = int(RATE * window)
    hits = [start / RATE for start in range(0, len(samples) - 4 * step, step)
            if tone_level(samples[start:start + 4 * step], frequency, RATE, scale=1.0) >= threshold]
    return [t for i, t in enumerate(hits) if i == 0 or t - hits[i - 1] > gap]


def longest_silence(samples, window=0.005, threshold=0.01):
    """Longest run (s) of windows whose RMS is below `threshold`."""
    step = int(RATE * window)
    quiet = (rms(samples[start:start + step]) < threshold for start in range(0, len(samples) - step + 1, step))
    return max((len(list(run)) for is_quiet, run in itertools.groupby(quiet) if is_quiet), default=0) * window


def pacat(server, latency_ms, *args, rate=RATE, **kwargs):
    return subprocess.Popen(["pacat", "--playback", "--raw", "--format=s16le", "--rate=%d" % rate, "--channels=1",
                             "--latency-msec=%d" % latency_ms, *args], env=server.env(), stderr=subprocess.DEVNULL,
                            **kwargs)


def play_tone(server, frequency=SYSTEM_TONE, amplitude=0.5, seconds=60, latency_ms=30, rate=RATE):
    """A steady tone into the default output, as any application plays; harness.stop ends it."""
    path = os.path.join(server.dir, "tone-%d.raw" % frequency)
    with open(path, "wb") as f:
        f.write(sine_pcm(frequency, rate, seconds, amplitude))
    return pacat(server, latency_ms, path, rate=rate)


class MonitorTap:
    """Records a sink's monitor (what the user hears from it) as 16 kHz mono."""

    def __init__(self, server, sink):
        self.path = os.path.join(server.dir, "tap-%s-%d.raw" % (sink, time.monotonic_ns()))
        # PipeWire's session manager moves a sink-monitor recording to the new
        # default sink when the recording switches the output: the tap would then
        # hear the loopback device, not the user's. It stays put only when told.
        self.process = subprocess.Popen(
            ["parec", "-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
             "--channels=1", "--latency-msec=20", "--property=node.dont-reconnect=true", self.path],
            env=server.env(), stderr=subprocess.DEVNULL)

    def samples(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            return [v / 32768.0 for v in int16(f.read())]

    def stop(self):
        stop(self.process)
        return self.samples()


def stream_latency(server, pid):
    """Buffer plus sink latency (s) of the playback stream of process `pid`."""
    for block in server.pactl("list", "sink-inputs").split("Sink Input #")[1:]:
        if re.search(r'application\.process\.id = "%d"' % pid, block):
            return sum(int(v) for v in re.findall(r"(?:Buffer|Sink) Latency: (\d+) usec", block)) / 1e6
    return None


def fionread(fd):
    return int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), "little")


def playback_delay(server, player, requested):
    """How long (s) what a 16 kHz mono player is given now takes to play: what waits in its
    input pipe and its stream latency. PipeWire's pulse server reports no stream latency:
    the `requested` one stands in."""
    return fionread(player.stdin.fileno()) / (2.0 * RATE) + (stream_latency(server, player.pid) or requested)


class BurstPlayer:
    """From when it is made, a 200 ms burst every `period` s (after `lead` s of silence) written at the
    same instant into the microphone (MIC_TONE) and the default output (SYSTEM_TONE). Each path's own
    delay is sampled, so that what the host adds can be told from what the injection adds."""

    output_latency = 0.02

    def __init__(self, server, seconds, period=1.5, lead=0.0):
        self.server, self.seconds, self.period, self.lead = server, seconds, period, lead
        self.player = pacat(server, int(self.output_latency * 1000), "--process-time-msec=5",
                            stdin=subprocess.PIPE)
        self.delays = []  # (player time s, output path delay s, microphone path delay s)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def injection_at(self, player_time):
        """How much later (s) the output path delivered than the microphone's, sampled nearest to a moment."""
        _, output, mic = min(self.delays, key=lambda entry: abs(entry[0] - player_time))
        return output - mic

    def _signal(self, frequency, rate):
        # Made beforehand: the writer only ever copies and never falls behind real time.
        data, quiet = bytes(2 * int(rate * self.lead)), bytes(2 * int(rate * (self.period - 0.2)))
        burst = sine_pcm(frequency, rate, 0.2, 0.5)
        while len(data) < 2 * self.seconds * rate:
            data += quiet + burst
        return data

    def _sample_delays(self, fd, mic_rate, done):
        while not done.is_set():
            mic = (fionread(fd) + self.mic_backlog) / (2.0 * mic_rate)
            output = playback_delay(self.server, self.player, self.output_latency)
            self.delays.append((time.monotonic() - self.started, output, mic))
            done.wait(0.5)

    def _run(self):
        mic_rate, step = self.server.mic_rate, 0.01
        mic, out = self._signal(MIC_TONE, mic_rate), self._signal(SYSTEM_TONE, RATE)
        mic_step, out_step = int(mic_rate * step) * 2, int(RATE * step) * 2
        # Never blocks: a stalled server must not hang the player. What a full pipe refuses waits here as
        # microphone delay; dropped, it would move every later burst and read as system audio late.
        fd = os.open(self.server.mic_fifo, os.O_WRONLY | os.O_NONBLOCK)
        self.mic_backlog, pending = 0, bytearray()
        self.started = time.monotonic()
        done = threading.Event()
        sampler = threading.Thread(target=self._sample_delays, args=(fd, mic_rate, done), daemon=True)
        sampler.start()
        try:
            for i in range(int(self.seconds / step)):
                pending += mic[i * mic_step:(i + 1) * mic_step]
                with contextlib.suppress(BlockingIOError):
                    del pending[:os.write(fd, pending)]
                self.mic_backlog = len(pending)
                self.player.stdin.write(out[i * out_step:(i + 1) * out_step])
                self.player.stdin.flush()
                time.sleep(max(0.0, self.started + (i + 1) * step - time.monotonic()))
        finally:
            time.sleep(0.6)  # the sampler's last look
            done.set()
            sampler.join()  # it reads the pipe's fill: never after the close
            os.close(fd)

    def stop(self):
        self.thread.join()
        stop(self.player)
        self.player.stdin.close()


def alignment_offsets(samples, injection_at):
    """Offsets (ms) of the system-audio bursts against the microphone's in
    the recording, less how much later the output path itself delivered:
    `injection_at` answers that (s) for a moment of the recording."""
    system = [t - injection_at(t) for t in onsets(samples, SYSTEM_TONE, 0.05)]
    near = ([(t - mic) * 1000.0 for t in system if abs(t - mic) < 0.5] for mic in onsets(samples, MIC_TONE, 0.05))
    return [offsets[0] for offsets in near if offsets]
