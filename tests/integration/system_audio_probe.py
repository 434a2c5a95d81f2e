"""What the user hears and what the recording holds, measured from outside
the host: a tap on a sink's monitor, bursts played into the microphone and
the output at the same instant, and the analysis of both. Shared by the
system-audio tests and the benchmark that prints the same figures."""

import fcntl
import math
import re
import statistics
import termios
import os
import subprocess
import threading
import time

from recording_analysis import int16

RATE = 16000
MIC_TONE = 440.0
SYSTEM_TONE = 1000.0


def sine(frequency, seconds, amplitude, rate=RATE, phase_start=0):
    count = int(seconds * rate)
    return [amplitude * math.sin(2 * math.pi * frequency * (phase_start + i) / rate) for i in range(count)]


def pcm(samples):
    return b"".join(int(max(-1.0, min(1.0, v)) * 32767).to_bytes(2, "little", signed=True) for v in samples)


def rms(samples):
    return math.sqrt(sum(v * v for v in samples) / len(samples)) if samples else 0.0


def db(ratio):
    return 20 * math.log10(max(ratio, 1e-9))


def goertzel(samples, frequency, rate=RATE):
    """Amplitude of one frequency in a window of samples (-1..1)."""
    k = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for v in samples:
        s1, s2 = v + k * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - k * s1 * s2
    return 2 * math.sqrt(max(power, 0.0)) / len(samples)


def onsets(samples, frequency, threshold, rate=RATE, window=0.005, gap=0.5):
    """Start times (s) of the bursts of one frequency: the first window
    whose amplitude crosses `threshold` after at least `gap` s without."""
    step = int(rate * window)
    found, last = [], -1e9
    for start in range(0, len(samples) - 4 * step, step):
        t = start / rate
        if goertzel(samples[start:start + 4 * step], frequency, rate) >= threshold:
            if t - last > gap:
                found.append(t)
            last = t
    return found


def longest_silence(samples, rate=RATE, window=0.005, threshold=0.01):
    """Longest run (s) of windows whose RMS is below `threshold`."""
    step = int(rate * window)
    longest = run = 0
    for start in range(0, len(samples) - step + 1, step):
        run = run + 1 if rms(samples[start:start + step]) < threshold else 0
        longest = max(longest, run)
    return longest * window


class MonitorTap:
    """Records a sink's monitor (what the user hears from it) as 16 kHz mono."""

    def __init__(self, server, sink):
        self.path = os.path.join(server.dir, "tap-%s-%d.raw" % (sink, time.monotonic_ns()))
        self.process = subprocess.Popen(
            ["parec", "-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
             "--channels=1", "--latency-msec=20", self.path], env=server.env(), stderr=subprocess.DEVNULL)

    def samples(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            return [v / 32768.0 for v in int16(f.read())]

    def stop(self):
        self.process.terminate()
        self.process.wait()
        return self.samples()


class TonePlayer:
    """A steady tone into the default output, as any application plays."""

    def __init__(self, server, frequency=SYSTEM_TONE, amplitude=0.5, seconds=60):
        self.path = os.path.join(server.dir, "tone-%d.raw" % frequency)
        with open(self.path, "wb") as f:
            f.write(pcm(sine(frequency, seconds, amplitude)))
        self.process = subprocess.Popen(
            ["pacat", "--playback", "--raw", "--format=s16le", "--rate=%d" % RATE, "--channels=1",
             "--latency-msec=30", self.path], env=server.env(), stderr=subprocess.DEVNULL)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def stream_latency(server, pid):
    """Buffer plus sink latency (s) of the playback stream of process `pid`:
    how long a sample it writes now takes to reach the sink."""
    text = server.pactl("list", "sink-inputs")
    for block in text.split("Sink Input #")[1:]:
        if re.search(r'application\.process\.id = "%d"' % pid, block):
            values = [int(v) for v in re.findall(r"(?:Buffer|Sink) Latency: (\d+) usec", block)]
            return sum(values) / 1e6
    return None


class BurstPlayer:
    """Silence with a 200 ms burst every `period` s, written at the same
    instant into the microphone (tone MIC_TONE) and into the default output
    (tone SYSTEM_TONE) at real-time pace. Each path's own delay (the pipe's
    fill on the microphone side, the playback stream's buffer and sink
    latency on the output side) is sampled, so that what the host adds can
    be told from what the injection adds."""

    output_latency = 0.02

    def __init__(self, server, seconds, period=1.5, amplitude=0.5, lead=0.0):
        self.server, self.seconds, self.period, self.amplitude = server, seconds, period, amplitude
        self.lead = lead  # extra silence before the first burst
        self.player = subprocess.Popen(
            ["pacat", "--playback", "--raw", "--format=s16le", "--rate=%d" % RATE, "--channels=1",
             "--latency-msec=%d" % int(self.output_latency * 1000), "--process-time-msec=5"],
            stdin=subprocess.PIPE, env=server.env(), stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.mic_delays, self.output_delays, self.timed_output_delays = [], [], []
        self.timed_injection = []  # (player time s, output minus microphone delay s)

    def injection_offset_ms(self):
        """How much later the output path delivers than the microphone path."""
        mic = statistics.median(self.mic_delays) if self.mic_delays else 0.0
        out = statistics.median(self.output_delays) if self.output_delays else self.output_latency
        return (out - mic) * 1000.0

    def injection_ms_at(self, player_time):
        """The injection offset sampled nearest to a moment of the player's run."""
        if not self.timed_injection:
            return self.injection_offset_ms()
        return min(self.timed_injection, key=lambda entry: abs(entry[0] - player_time))[1] * 1000.0

    def start(self):
        self.thread.start()
        return self

    def _signal(self, frequency, rate):
        """The whole run's PCM, made before it starts so that the writer
        only ever copies and never falls behind real time."""
        samples = [0.0] * int(rate * self.lead)
        burst = sine(frequency, 0.2, self.amplitude, rate)
        quiet = [0.0] * int(rate * (self.period - 0.2))
        while len(samples) < self.seconds * rate:
            samples += quiet + burst
        return pcm(samples)

    def _sample_delays(self, fd, mic_rate):
        while self.thread.is_alive():
            queued = fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0")
            self.mic_delays.append(int.from_bytes(queued, "little") / (2.0 * mic_rate))
            latency = stream_latency(self.server, self.player.pid)
            # What waits in the player's input pipe is delay too; PipeWire's
            # pulse server reports no stream latency: the requested one
            # stands in.
            try:
                backlog = fcntl.ioctl(self.player.stdin.fileno(), termios.FIONREAD, b"\0\0\0\0")
            except (OSError, ValueError):
                return  # the player was stopped under the sampler
            delay = int.from_bytes(backlog, "little") / (2.0 * RATE) + (latency if latency else self.output_latency)
            self.output_delays.append(delay)
            self.timed_output_delays.append((time.monotonic() - self.started, delay))
            self.timed_injection.append((time.monotonic() - self.started, delay - self.mic_delays[-1]))
            time.sleep(0.5)

    def _run(self):
        mic_rate, step = self.server.mic_rate, 0.01
        mic, out = self._signal(MIC_TONE, mic_rate), self._signal(SYSTEM_TONE, RATE)
        mic_step, out_step = int(mic_rate * step) * 2, int(RATE * step) * 2
        # Never blocks: a server that stops reading its pipe (no one records
        # from it) must not hang the player.
        fd = os.open(self.server.mic_fifo, os.O_WRONLY | os.O_NONBLOCK)
        start = self.started = time.monotonic()
        threading.Thread(target=self._sample_delays, args=(fd, mic_rate), daemon=True).start()
        try:
            for i in range(int(self.seconds / step)):
                try:
                    os.write(fd, mic[i * mic_step:(i + 1) * mic_step])
                except BlockingIOError:
                    pass
                self.player.stdin.write(out[i * out_step:(i + 1) * out_step])
                self.player.stdin.flush()
                delay = start + (i + 1) * step - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
        except (OSError, ValueError):
            pass
        finally:
            time.sleep(0.6)  # the sampler's last look
            os.close(fd)

    def stop(self):
        self.thread.join()
        try:
            self.player.stdin.close()
        except OSError:
            pass
        self.player.terminate()
        self.player.wait()


def alignment_offsets(samples, injection_ms, threshold=0.05):
    """Offsets (ms) of the system-audio bursts against the microphone's in
    the recording, after taking out how much later the output path itself
    delivered: `injection_ms` is a number, or a function of the burst's time
    in the recording (s) answering the figure sampled nearest to it."""
    injection = injection_ms if callable(injection_ms) else (lambda t: injection_ms)
    mic = onsets(samples, MIC_TONE, threshold)
    system = onsets(samples, SYSTEM_TONE, threshold)
    offsets = []
    for m in mic:
        near = [t for t in system if abs(t - injection(t) / 1000.0 - m) < 0.5]
        if near:
            offsets.append((near[0] - injection(near[0]) / 1000.0 - m) * 1000.0)
    return offsets
