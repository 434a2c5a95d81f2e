#!/usr/bin/env python3
"""CPU time and peak memory of quillon-host over one real recording.

Starts a private PulseAudio or, with --server pipewire, a private PipeWire session (tone A into its microphone, tone B through its
speakers), a headless quillon-host, and an engine that records for
--seconds (default 60) while receiving every "onPcmData" and "onOpusData".
Prints the host's CPU time during the recording as a share of one core, its
peak resident memory, and how long the sound server's callback thread spent
in the host's stream callbacks (median and longest call, per stream, from the
host's log). Goals: under 2 % of one core, under 40 MiB, every callback under
1 ms."""

import argparse
import os
import re
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from engine_session import EngineSession  # noqa: E402
from harness import Host, day_log, init_args  # noqa: E402
from pipewire_server import PipeWireServer  # noqa: E402
from pulse_server import PulseServer  # noqa: E402
from test_recording import Sounds  # noqa: E402


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--server", choices=("pulseaudio", "pipewire"), default="pulseaudio")
    args = parser.parse_args()

    with (PipeWireServer if args.server == "pipewire" else PulseServer)() as pulse:
        folder = tempfile.mkdtemp(prefix="quillon-bench-")
        sounds = Sounds(pulse, seconds=args.seconds + 30).start()
        try:
            with Host(env=dict(pulse.env(), HOME=folder)) as host:
                pid = host.process.pid
                host.call("native_application_factory", "init", init_args(host.log_dir))
                session = EngineSession(host.socket)
                session.call("init", {"blackHolePath": "/nonexistent/VerdalisRecorder.pa",
                                      "reserveStageAudio": False})
                rss_before = status_kib(pid, "VmRSS")
                cpu_start, wall_start = cpu_seconds(pid), time.monotonic()
                started = session.call("startRecorder", {
                    "recorderMic": True, "recorderPath": folder,
                    "wavFilePath": os.path.join(folder, "recording.wav"),
                    "opusFilePath": os.path.join(folder, "recording.opus")})
                sounds.play_tone_b()
                time.sleep(args.seconds)
                summary = session.call("stopRecorder")
                cpu_used, wall = cpu_seconds(pid) - cpu_start, time.monotonic() - wall_start
                peak = status_kib(pid, "VmHWM")
                blocks, packets = session.counts()
                session.close()
                callbacks = re.findall(r"Stream on (\S+): (\d+) callbacks, median ([\d.]+) ms, "
                                       r"longest ([\d.]+) ms \(([\d.]+) ms on the CPU\)", day_log(host.log_dir))
        finally:
            sounds.stop()

    print("server: %s" % args.server)
    print("recording started: %s, summary: %s" % (started, summary))
    print("engine received %d PCM blocks and %d Opus packets" % (blocks, packets))
    print("host CPU time: %.2f s over %.1f s = %.2f %% of one core (goal < 2 %%)"
          % (cpu_used, wall, 100.0 * cpu_used / wall))
    print("host resident memory: %.1f MiB before the recording, peak %.1f MiB (goal < 40 MiB)"
          % (rss_before / 1024.0, peak / 1024.0))
    for stream, count, median, longest, on_cpu in callbacks:
        print("callback thread in %s: %s calls, median %s ms, longest %s ms, longest on the CPU %s ms (goal < 1 ms)"
              % (stream, count, median, longest, on_cpu))


if __name__ == "__main__":
    main()
