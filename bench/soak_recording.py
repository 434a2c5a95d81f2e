#!/usr/bin/env python3
"""A long real recording against a private PulseAudio (default 10 minutes).

A headless quillon-host records the pipe-fed microphone (a 440 Hz tone) and the
loopback device's monitor with stage files on, while an engine receives every
"onPcmData" block. Afterwards it reports what could show a dropped period:
- audio each capture delivered (its 16 kHz stage file) against the wall-clock
  length of the recording, and the mixed WAV against the same;
- PCM blocks the engine received against the blocks the WAV holds after the
  callbacks were set;
- warnings and errors in the host's day log (the mixer's padding of a silent
  source, a full pass-through buffer, write failures);
- the host's resident memory after the first minute and at the end.

  bench/soak_recording.py [--seconds 600]"""

import argparse
import os
import shutil
import sys
import tempfile
import threading
import time
import wave

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from engine_session import EngineSession  # noqa: E402
from harness import Host  # noqa: E402
from pulse_server import PulseServer  # noqa: E402
from recording_analysis import sine_pcm  # noqa: E402
from test_recording import LEVEL_A, TONE_A, Sounds  # noqa: E402


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def feed_microphone(pulse, seconds, stop):
    """The microphone tone at real-time pace, from one second made up front (a
    whole number of cycles), so the feed starts at once and never falls behind."""
    second = sine_pcm(TONE_A, pulse.mic_rate, 1.0, LEVEL_A)
    step = len(second) // 50
    fd = os.open(pulse.mic_fifo, os.O_WRONLY)
    try:
        start = time.monotonic()
        for i in range(int(seconds * 50)):
            if stop.is_set():
                break
            offset = (i % 50) * step
            os.write(fd, second[offset:offset + step])
            delay = start + (i + 1) * 0.02 - time.monotonic()
            if delay > 0:
                time.sleep(delay)
    except OSError:
        pass
    finally:
        os.close(fd)


def seconds_in(path):
    with wave.open(path, "rb") as w:
        return w.getnframes() / w.getframerate()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()

    with PulseServer() as pulse:
        folder = tempfile.mkdtemp(prefix="quillon-soak-")
        logs = os.path.join(folder, "logs")
        # Sounds plays tone B through the output; the microphone is fed here.
        sounds = Sounds(pulse)
        stop = threading.Event()
        mic = threading.Thread(target=feed_microphone, args=(pulse, args.seconds + 60, stop), daemon=True)
        mic.start()
        try:
            with Host(env=dict(pulse.env(), HOME=folder)) as host:
                pid = host.process.pid
                host.call("native_application_factory", "init", {
                    "logPath": logs, "logEnable": True, "applicationName": "soak", "menuAbout": "a",
                    "menuUpdate": "u", "menuSettings": "s", "menuOpen": "o", "menuExit": "e",
                    "menuAboutCopyrightTip": "c"})
                session = EngineSession(host.socket)
                session.call("init", {"blackHolePath": "/nonexistent/VerdalisRecorder.pa",
                                      "reserveStageAudio": True})
                started = session.call("startRecorder", {
                    "recorderMic": True, "recorderPath": folder,
                    "wavFilePath": os.path.join(folder, "recording.wav"),
                    "opusFilePath": os.path.join(folder, "recording.opus")})
                wall_start = time.monotonic()
                sounds.play_tone_b()
                rss_minute = None
                while time.monotonic() - wall_start < args.seconds:
                    time.sleep(1)
                    if rss_minute is None and time.monotonic() - wall_start >= 60:
                        rss_minute = status_kib(pid, "VmRSS")
                rss_end = status_kib(pid, "VmRSS")
                summary = session.call("stopRecorder")
                wall = time.monotonic() - wall_start
                blocks = session.counts()[0]
                streamed = session.pcm_bytes()
                session.close()
                time.sleep(0.5)
                log_text = ""
                for name in os.listdir(logs):
                    with open(os.path.join(logs, name), errors="replace") as f:
                        log_text += f.read()
        finally:
            stop.set()
            sounds.stop()

    problems = [line for line in log_text.splitlines() if "[WARNING]" in line or "[ERROR]" in line]
    mic, speaker = seconds_in(os.path.join(folder, "mic.wav")), seconds_in(os.path.join(folder, "speaker.wav"))
    mixed = seconds_in(os.path.join(folder, "recording.wav"))
    print("recording: started %s, %.1f s wall clock, summary %s" % (started, wall, summary))
    print("microphone delivered %.2f s, system audio %.2f s, mixed WAV %.2f s (wall clock %.2f s)"
          % (mic, speaker, mixed, wall))
    print("engine received %d PCM blocks = %.2f s of audio" % (blocks, streamed / 32000.0))
    print("warnings and errors in the day log: %d" % len(problems))
    for line in problems[:20]:
        print("  " + line)
    if rss_minute:
        print("host resident memory: %.1f MiB after the first minute, %.1f MiB at the end (%+.1f %%)"
              % (rss_minute / 1024.0, rss_end / 1024.0, 100.0 * (rss_end - rss_minute) / rss_minute))
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
