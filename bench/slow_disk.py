#!/usr/bin/env python3
"""What a stalling disk costs a recording, on PulseAudio and on PipeWire.

Runs the recordings of tests/integration/test_slow_disk.py with the host's
writes to the recording folder stalling (a preloaded fwrite): without
stalls, with a 400 ms stall every 3 s, and with one 15 s stall (beyond the
worker's 12 s queue). Prints, for each: the longest gap the user heard, how
far the pass-through drifted behind between the first and the last seconds,
the WAV's duration against the wall clock, and the audio reported dropped.
Needs a normal build (QUILLON_BUILD_DIR, default ./build)."""

import argparse
import os
import re
import statistics
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))

from pipewire_server import PipeWireServer  # noqa: E402
from pulse_server import PulseServer  # noqa: E402
from system_audio_probe import SYSTEM_TONE, onsets  # noqa: E402
from test_slow_disk import StalledRecording  # noqa: E402

RUNS = (("no stalls", "", 13.0), ("400 ms every 3 s", "400:3000", 13.0), ("one 15 s stall", "15000:2000", 18.5))


def pass_through_drift(run):
    """How much later (s) the bursts are heard at the end than at the start,
    less what the player's own path changed."""
    found = onsets(run.heard, SYSTEM_TONE, 0.05)
    # Phases within the 1 s burst period, taken around the second burst's
    # so that none wraps across the period's end.
    ref = found[1] % 1.0
    phases = [(t - ref + 0.5) % 1.0 - 0.5 for t in found]
    moved = statistics.median(phases[-3:]) - statistics.median(phases[1:3])
    early = [d for t, d, _ in run.bursts.delays if t < 3.0]
    late = [d for t, d, _ in run.bursts.delays if t > run.wall - 3.0]
    if early and late:
        moved -= statistics.median(late) - statistics.median(early)
    return moved


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", choices=("pulseaudio", "pipewire", "both"), default="both")
    args = parser.parse_args()
    servers = {"pulseaudio": PulseServer, "pipewire": PipeWireServer}
    for name, server_class in servers.items():
        if args.server not in (name, "both"):
            continue
        print("%s:" % name)
        for label, stalls, seconds in RUNS:
            with server_class() as server:
                run = StalledRecording(server, stalls, seconds)
            dropped = re.findall(r"Recording fell behind: (\d+) ms of (\w+) audio", run.log)
            print("  %-18s stalls %d, longest gap heard %3.0f ms, pass-through drift %+4.0f ms, "
                  "duration %+4.0f ms vs wall clock, dropped: %s"
                  % (label, run.stalls, run.longest_gap_heard() * 1000, pass_through_drift(run) * 1000,
                     run.duration_error() * 1000,
                     ", ".join("%s ms %s" % d for d in dropped) or "none"))


if __name__ == "__main__":
    main()
