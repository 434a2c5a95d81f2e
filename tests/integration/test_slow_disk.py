"""A disk that stalls under a recording, on PulseAudio and on PipeWire: the
host's writes to the recording folder are made to sleep (a preloaded
fwrite). What the user hears never waits on the recording's work, the files
have no hole and last as long as the recording, and a stall longer than the
recording's queue costs whole periods that are counted as silence, said once
per source.

Under a sanitizer the preload cannot come first and the host runs several
times slower: these run with the normal build only."""

import os
import re
import statistics
import time
import unittest

from harness import BUILD_DIR, Host, day_log, init_args, wait_for
from pipewire_server import PipeWireServer
from pulse_server import PulseServer
from recording_analysis import opus_records, wav_samples
from system_audio_probe import SYSTEM_TONE, BurstPlayer, MonitorTap, TonePlayer, longest_silence, onsets
from engine_session import EngineSession
from test_recording import start_args

SLOW_WRITES = os.path.join(BUILD_DIR, "tests", "libquillon_slow_writes.so")
QUIET_TONE = 300


def silences(samples, rate=16000, window=0.005, threshold=0.01):
    step = int(rate * window)
    out, run = [], 0
    for start in range(0, len(samples) - step + 1, step):
        quiet = sum(v * v for v in samples[start:start + step]) / step < threshold * threshold
        if quiet:
            run += 1
        elif run:
            if run >= 10:
                out.append((round(start / rate - run * window, 3), run * window))
            run = 0
    return out


@unittest.skipIf(os.environ.get("QUILLON_SANITIZE"), "timing and preloading need the normal build")
class SlowDiskTest(unittest.TestCase):
    SERVER = PulseServer

    def record(self, stalls, seconds):
        """A recording of `seconds` with the microphone, bursts and a steady
        tone playing, writes stalling as `stalls` ("MS:EVERY_MS") says.
        Answers (heard samples and where the recording ran in them, wall
        seconds, WAV samples, day log, burst onsets heard)."""
        server = self.SERVER()
        self.addCleanup(server.stop)
        server.start()
        folder = os.path.join(server.dir, "rec")
        os.makedirs(folder)
        self.folder = folder
        tap = MonitorTap(server, "Speakers")
        self.addCleanup(tap.stop)
        tone = TonePlayer(server, frequency=QUIET_TONE, amplitude=0.2)
        self.addCleanup(tone.stop)
        wait_for(lambda: len(tap.samples()) > 16000, 15)
        env = dict(server.env(), HOME=os.path.join(server.dir, "home"), LD_PRELOAD=SLOW_WRITES,
                   QUILLON_SLOW_WRITES=stalls, QUILLON_SLOW_WRITES_UNDER=folder)
        with Host(env=env) as host:
            code, _, err = host.call("native_application_factory", "init", init_args(host.log_dir))
            self.assertEqual(code, 0, err)
            session = EngineSession(host.socket)
            self.addCleanup(session.close)
            self.assertIs(session.call("init", {"blackHolePath": "/nonexistent", "reserveStageAudio": False}), True)
            began = time.monotonic()
            self.assertIs(session.call("startRecorder", start_args(folder)), True)
            started = len(tap.samples())
            bursts = BurstPlayer(server, seconds=seconds, period=1.0).start()
            self.addCleanup(bursts.stop)
            time.sleep(seconds)
            ended = time.monotonic()
            stopped = len(tap.samples())
            self.assertEqual(session.call("stopRecorder", timeout=120)["success"], 0)
            log = day_log(host.log_dir)
            self.stalls = host.stderr().count("slow_writes: stalling")
        heard = tap.stop()
        _, _, samples = wav_samples(os.path.join(folder, "recording.wav"))
        return heard[started:stopped], ended - began, samples, log, onsets(heard[started:stopped], SYSTEM_TONE, 0.05)

    def assert_whole_files(self, samples, wall_seconds):
        self.assertLess(abs(len(samples) / 16000 - wall_seconds), 0.2, (len(samples), wall_seconds))
        # The steady tone runs through the whole file: no stretch went missing.
        recorded = [v / 32768.0 for v in samples[16000:]]
        self.assertLess(longest_silence(recorded), 0.05)
        records = opus_records(os.path.join(self.folder, "recording.opus"))
        self.assertLessEqual(abs(len(records) - len(samples) // 640), 1)

    def test_stalled_writes_cost_the_listener_nothing_and_the_files_no_audio(self):
        heard, wall, samples, log, found = self.record("400:3000", 13.0)
        self.assertGreaterEqual(self.stalls, 3)
        self.assertNotIn("fell behind", log)
        # Stalls came at about 3, 6.4, 9.8 s: the pass-through played on through
        # each of them and is as close behind the applications after them as before.
        self.assertLess(longest_silence(heard[8000:]), 0.15)
        phases = [t % 1.0 for t in found]
        self.assertGreaterEqual(len(phases), 10, found)
        early, late = statistics.median(phases[1:3]), statistics.median(phases[-3:])
        self.assertLess(abs(late - early), 0.08, (early, late))
        self.assert_whole_files(samples, wall)

    def test_a_stall_beyond_the_queue_drops_whole_periods_counted_as_silence(self):
        heard, wall, samples, log, _ = self.record("15000:2000", 18.5)
        self.assertEqual(self.stalls, 1)
        self.assertLess(longest_silence(heard[8000:]), 0.15, silences(heard[8000:]))
        for source in ("microphone", "system"):
            lines = re.findall(r"Recording fell behind: (\d+) ms of %s audio dropped" % source, log)
            self.assertEqual(len(lines), 1, [l for l in log.splitlines() if "behind" in l or "silence" in l])
            self.assertTrue(1000 <= int(lines[0]) <= 5000, lines)
        self.assertLess(abs(len(samples) / 16000 - wall), 0.2, (len(samples), wall))
        # The recording carried on by itself once the disk came back.
        self.assertGreater(max(abs(v) for v in samples[-16000:]) / 32768.0, 0.05)


class PipeWireSlowDiskTest(SlowDiskTest):
    SERVER = PipeWireServer


if __name__ == "__main__":
    unittest.main()
