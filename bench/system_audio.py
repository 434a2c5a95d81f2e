#!/usr/bin/env python3
"""What the user hears and what the recording holds, on a private PulseAudio
and a private PipeWire session (--server to pick one; both by default).

Prints, per server:
- the heard level of a tone on the user's device during a recording against
  before it (dB; goal within 1 dB);
- the longest silence the user hears around the start and the stop (ms; goal
  under 100 ms);
- the latency the pass-through adds to what the user hears (ms);
- the system audio's offset against the microphone in recording.wav for
  simultaneous bursts, median and spread (ms; goal within 40 ms);
- the time from "startRecorder"'s reply to the first "onPcmData" block (ms);
- the offsets again when the sound server stalls for a second mid-recording."""

import argparse
import contextlib
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from engine_session import EngineSession  # noqa: E402
from harness import Host, stop, wait_for  # noqa: E402
from pipewire_server import PipeWireServer  # noqa: E402
from pulse_server import PulseServer  # noqa: E402
from recording_analysis import sine_pcm, wav_samples  # noqa: E402
from system_audio_probe import (MIC_TONE, RATE, SYSTEM_TONE, BurstPlayer, MonitorTap,  # noqa: E402
                                alignment_offsets, db, longest_silence, onsets, pacat, play_tone,
                                playback_delay, rms)
from test_recording import Sounds, start_args  # noqa: E402

INIT = {"blackHolePath": "/nonexistent/VerdalisRecorder.pa", "reserveStageAudio": False}


@contextlib.contextmanager
def recording_session(server):
    """A headless host on `server`, an engine session that has called "init",
    and a folder for the recording's files."""
    folder = os.path.join(server.dir, "rec")
    os.makedirs(folder, exist_ok=True)
    with Host(env=dict(server.env(), HOME=tempfile.mkdtemp(prefix="quillon-bench-"))) as h:
        session = EngineSession(h.socket)
        session.call("init", INIT)
        try:
            yield session, folder
        finally:
            session.close()


def heard(server_class):
    """Level and gaps of a steady tone on the user's device, 50 % volume."""
    with server_class() as server:
        server.pactl("set-sink-volume", "Speakers", "50%")
        tone = play_tone(server)
        tap = MonitorTap(server, "Speakers")
        # An idle sink's monitor starts delivering only after its first block.
        wait_for(lambda: len(tap.samples()) > 24000, 15)
        with recording_session(server) as (session, folder):
            before = len(tap.samples())
            session.call("startRecorder", start_args(folder, mic=False))
            started = len(tap.samples())
            time.sleep(3.0)
            session.call("stopRecorder")
            stopped = len(tap.samples())
            time.sleep(1.0)
        samples = tap.stop()
        stop(tone)
    level = db(rms(samples[started + 16000:started + 40000]) / rms(samples[before - 16000:before]))
    return (level, longest_silence(samples[before - 8000:started + 16000]) * 1000,
            longest_silence(samples[stopped - 16000:stopped + 12000]) * 1000)


def pass_through_latency(server_class):
    """Bursts written at the same instant into the user's device (MIC_TONE) and into the default
    output, which the recording has put on the loopback (SYSTEM_TONE): how much later the second
    reaches the user's device, less what their own two streams differ by. Both paths are taken
    at the same moments of the same recording, so a server that changes its own timing when the
    host's streams come (PipeWire's graph does) moves both alike."""
    with server_class() as server:
        tap = MonitorTap(server, "Speakers")
        with recording_session(server) as (session, folder):
            session.call("startRecorder", start_args(folder, mic=False))
            time.sleep(2.0)
            bursts = PairedBursts(server, seconds=12)
            bursts.join()
            session.call("stopRecorder")
        bursts.stop()
        samples = tap.stop()
    direct, passed = onsets(samples, MIC_TONE, 0.05), onsets(samples, SYSTEM_TONE, 0.05)
    # The two streams' own delays, sampled while the bursts played.
    correction = statistics.median(loop - user for user, loop in bursts.delays)
    added = [min((t - d for d in direct), key=abs) - correction for t in passed]
    return statistics.median(a for a in added if abs(a) < 0.5) * 1000


class PairedBursts:
    """A 200 ms burst every second, into the user's device and the default output at once."""

    def __init__(self, server, seconds):
        self.server, self.seconds = server, seconds
        self.players = [pacat(server, 20, "--process-time-msec=5", "--device=Speakers", stdin=subprocess.PIPE),
                        pacat(server, 20, "--process-time-msec=5", stdin=subprocess.PIPE)]
        self.delays = []  # (user's device path s, loopback path s)
        self.done = threading.Event()
        # Sampled aside: the writer never waits on the server's answers.
        self.sampler = threading.Thread(target=self._sample, daemon=True)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.sampler.start()
        self.thread.start()

    def _sample(self):
        # Both streams ask for the same latency: where the server reports none, it cancels out.
        while not self.done.wait(0.5):
            self.delays.append(tuple(playback_delay(self.server, player, 0.0) for player in self.players))

    def _run(self):
        step = 0.01
        signals = [(bytes(2 * int(RATE * 0.8)) + sine_pcm(tone, RATE, 0.2, 0.5)) * self.seconds
                   for tone in (MIC_TONE, SYSTEM_TONE)]
        chunk, started = int(RATE * step) * 2, time.monotonic()
        for i in range(int(self.seconds / step)):
            for player, signal_ in zip(self.players, signals):
                player.stdin.write(signal_[i * chunk:(i + 1) * chunk])
                player.stdin.flush()
            time.sleep(max(0.0, started + (i + 1) * step - time.monotonic()))

    def join(self):
        self.thread.join()
        self.done.set()
        self.sampler.join()  # it reads the pipes' fill: never after the close

    def stop(self):
        for player in self.players:
            stop(player)
            player.stdin.close()


def first_block(server_class):
    """A microphone that hears a tone, as a real one always hears something."""
    with server_class() as server:
        sounds = Sounds(server, seconds=30).start()
        with recording_session(server) as (session, folder):
            time.sleep(0.5)
            session.call("startRecorder", start_args(folder))
            replied = time.monotonic()
            while session.counts()[0] == 0 and time.monotonic() - replied < 10:
                time.sleep(0.005)
            waited = (time.monotonic() - replied) * 1000
            session.call("stopRecorder")
        sounds.stop()
    return waited


def freeze(server, seconds):
    """Stops the sound server's processes for `seconds`, as a machine that
    stalls them would (the session's D-Bus and session manager run on)."""
    if not seconds:
        return
    group = os.getpgid(server.process.pid)
    found = subprocess.run(["pgrep", "-g", str(group), "^(pulseaudio|pipewire)"], capture_output=True, text=True)
    pids = [int(pid) for pid in found.stdout.split()]
    for pid in pids:
        os.kill(pid, signal.SIGSTOP)
    time.sleep(seconds)
    for pid in pids:
        os.kill(pid, signal.SIGCONT)


def alignment(server_class, stall=0.0):
    """Offsets of 9 bursts; with `stall`, the server is stopped for that
    long 3 s into the recording, between the first burst and the second."""
    with server_class() as server:
        with recording_session(server) as (session, folder):
            began = time.monotonic()
            session.call("startRecorder", start_args(folder))
            bursts = BurstPlayer(server, seconds=16, lead=0.5)
            time.sleep(3.0)
            freeze(server, stall)
            time.sleep(12.0 - stall)
            session.call("stopRecorder")
        bursts.stop()
        rate, _, samples = wav_samples(os.path.join(folder, "recording.wav"))
        lag = bursts.started - began
        offsets = alignment_offsets([v / 32768.0 for v in samples], lambda t: bursts.injection_at(t - lag))
    return offsets


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", choices=("pulseaudio", "pipewire", "both"), default="both")
    parser.add_argument("--stall", type=float, default=1.0, help="the stalled-server run's stall (s); 0 skips it")
    args = parser.parse_args()
    servers = {"pulseaudio": PulseServer, "pipewire": PipeWireServer}
    for name, server_class in servers.items():
        if args.server not in (name, "both"):
            continue
        level, gap_start, gap_stop = heard(server_class)
        # One run moves by 10-20 ms with the player's own scheduling: three tell more.
        latencies = sorted(pass_through_latency(server_class) for _ in range(3))
        offsets = alignment(server_class)
        waited = first_block(server_class)
        stalled = alignment(server_class, args.stall) if args.stall else None
        print("%s:" % name)
        print("  heard level during vs before: %+.2f dB (goal within 1 dB)" % level)
        print("  longest silence heard: %.0f ms at the start, %.0f ms at the stop (goal under 100 ms)"
              % (gap_start, gap_stop))
        print("  pass-through added latency: median %.0f ms of %s" % (latencies[1], " ".join("%.0f" % v for v in latencies)))
        print("  system vs microphone in recording.wav: median %.1f ms, spread %.1f ms over %d bursts"
              " (goal within 40 ms): %s" % (statistics.median(offsets), max(offsets) - min(offsets), len(offsets),
                                          " ".join("%.0f" % o for o in offsets)))
        print("  startRecorder reply to first onPcmData: %.0f ms" % waited)
        if stalled is not None:
            print("  the same after the server stalled %.1f s: %s" % (args.stall, " ".join("%.0f" % o for o in stalled)))


if __name__ == "__main__":
    main()
