"""A disk that stalls under a recording, on PulseAudio and on PipeWire: a
preloaded fwrite makes the host's writes to the recording folder sleep.
The normal build only: under a sanitizer the preload cannot come first."""

import os
import re
import tempfile
import time
import unittest

from engine_session import EngineSession
from harness import BUILD_DIR, SANITIZER, Host, day_log, init_args, stop, wait_for
from pipewire_server import PipeWireServer
from pulse_server import PulseServer
from recording_analysis import opus_records, wav_samples
from system_audio_probe import BurstPlayer, MonitorTap, alignment_offsets, longest_silence, play_tone
from test_recording import start_args

SLOW_WRITES = os.path.join(BUILD_DIR, "tests", "libquillon_slow_writes.so")
QUIET_TONE = 300


class StalledRecording:
    """A recording of `seconds` with bursts every second and a steady tone
    playing, the host's writes stalling as `stalls` ("MS:EVERY_MS") says."""

    def __init__(self, server, stalls, seconds):
        self.folder = tempfile.mkdtemp(prefix="rec-", dir=server.dir)
        tap = MonitorTap(server, "Speakers")
        tone = play_tone(server, frequency=QUIET_TONE, amplitude=0.2)
        # The server's exit ends the tap, the tone and the session if this fails.
        wait_for(lambda: len(tap.samples()) > 16000, 15)
        env = dict(server.env(), HOME=os.path.join(server.dir, "home"), LD_PRELOAD=SLOW_WRITES,
                   QUILLON_SLOW_WRITES=stalls, QUILLON_SLOW_WRITES_UNDER=self.folder)
        with Host(env=env) as host:
            host.call("native_application_factory", "init", init_args(host.log_dir))
            session = EngineSession(host.socket)
            session.call("init", {"blackHolePath": "/nonexistent", "reserveStageAudio": False})
            self.began = time.monotonic()
            self.started = session.call("startRecorder", start_args(self.folder))
            first = len(tap.samples())
            # Its first burst comes after the second in which each stream's timing settles.
            self.bursts = BurstPlayer(server, seconds=seconds, period=1.0, lead=0.5)
            time.sleep(seconds)
            self.wall = time.monotonic() - self.began
            last = len(tap.samples())
            self.summary = session.call("stopRecorder", timeout=120)
            self.bursts.stop()
            session.close()
            self.log = day_log(host.log_dir)
            self.stalls = host.stderr().count("slow_writes: stalling")
        stop(tone)
        self.heard = tap.stop()[first:last]
        _, _, self.samples = wav_samples(os.path.join(self.folder, "recording.wav"))

    def longest_gap_heard(self):
        """Longest silence (s) heard after the first second (the switch is test_recording's)."""
        return longest_silence(self.heard[16000:])

    def duration_error(self):
        return len(self.samples) / 16000 - self.wall

    def alignment_offsets(self):
        # A burst at time t of the recording was played at t - lag.
        lag = self.bursts.started - self.began
        return alignment_offsets([v / 32768.0 for v in self.samples], lambda t: self.bursts.injection_at(t - lag))


@unittest.skipIf(SANITIZER, "timing and preloading need the normal build")
class SlowDiskTest(unittest.TestCase):
    SERVER = PulseServer

    def test_stalls_cost_the_listener_nothing_and_the_files_no_time(self):
        server = self.enterContext(self.SERVER())
        # The long stall ends at about 17 s and the next would come 2 s later:
        # the stop comes well before it.
        for stalls, seconds, check in (("400:3000", 13.0, self.check_short_stalls),
                                       ("15000:2000", 18.0, self.check_a_stall_beyond_the_queue)):
            run = StalledRecording(server, stalls, seconds)
            self.assertEqual((run.started, run.summary["success"]), (True, 0))
            # What the user hears never waits on the recording's work, and the
            # file lasts as long as the recording (within what the stop
            # request itself takes on a busy machine).
            self.assertLess(run.longest_gap_heard(), 0.15)
            self.assertLess(abs(run.duration_error()), 0.4)
            check(run)

    def check_short_stalls(self, run):
        self.assertGreaterEqual(run.stalls, 3)
        self.assertNotIn("fell behind", run.log)
        # Microphone and system audio line up in the file, stalls or not (the
        # room left fails a fixed 160 ms pairing offset).
        offsets = run.alignment_offsets()
        self.assertGreaterEqual(len(offsets), 8, offsets)
        self.assertLess(max(abs(o) for o in offsets), 100.0, offsets)
        # The steady tone runs through the whole file: no stall went into it as
        # silence (a server's own short hole under load may).
        self.assertLess(longest_silence([v / 32768.0 for v in run.samples[16000:]]), 0.2)
        records = opus_records(os.path.join(run.folder, "recording.opus"))
        self.assertLessEqual(abs(len(records) - len(run.samples) // 640), 1)

    def check_a_stall_beyond_the_queue(self, run):
        """It drops whole periods, counted as silence and said once per source."""
        self.assertEqual(run.stalls, 1)
        for source in ("microphone", "system"):
            lines = re.findall(r"Recording fell behind: (\d+) ms of %s audio dropped" % source, run.log)
            self.assertEqual(len(lines), 1, [line for line in run.log.splitlines() if "behind" in line])
            self.assertTrue(1000 <= int(lines[0]) <= 5000, lines)
        # The recording carried on by itself once the disk came back.
        self.assertGreater(max(abs(v) for v in run.samples[-16000:]) / 32768.0, 0.05)


class PipeWireSlowDiskTest(SlowDiskTest):
    SERVER = PipeWireServer


if __name__ == "__main__":
    unittest.main()
