"""Recordings that meet a full disk, a killed host, a killed sound server:
each leaves files that open and hold what the engine was sent."""

import os
import unittest
import wave

from harness import wait_for
from pulse_server import PulseServer
from recording_analysis import wav_data
from test_recording import LOOPBACK, SECOND, RecordingCase, default_sink


class RecordingFaultTest(RecordingCase):
    def test_recordings_survive_a_full_disk_and_killed_processes(self):
        self.check_full_disk()
        self.check_host_then_server_killed()

    def check_full_disk(self):
        folder, wav = self.folder("full")
        limit = 6 * SECOND + 1000
        # The signal for an oversized write keeps its default action: the host must not die of it.
        with self.host(file_limit=limit) as host:
            session = self.session(host)
            self.start(session, folder)
            # The engine keeps getting audio well after the file stopped growing.
            self.assertTrue(wait_for(lambda: session.pcm_bytes() >= limit + 2 * SECOND, timeout=90))
            summary = self.stop(session, succeeds=False)
            self.assertIsNone(host.process.poll(), host.stderr())
        # The summary does not claim success, but tells what the file holds.
        self.assertLessEqual(os.path.getsize(wav), limit)
        self.assert_files_match(folder, summary)
        # What made it to disk is the audio the engine heard at that time.
        data = wav_data(wav)[2]
        self.assertGreater(len(data), 4 * SECOND)
        self.assertIn(data[-6400:], b"".join(session.pcm))

    def check_host_then_server_killed(self):
        """A killed host leaves a playable WAV missing at most the last second; the
        next host puts the user's output back, then records while the server dies."""
        folder, wav = self.folder("host-killed")
        with self.host() as host:
            session = self.session(host)
            self.start(session, folder)
            self.wait_blocks(session, 100)
            host.process.kill()
            host.process.wait()
            # Everything sent before the kill is read before the end of stream.
            self.assertTrue(wait_for(lambda: session.closed, timeout=30))
        streamed = b"".join(session.pcm)
        self.assertEqual(default_sink(self.pulse), LOOPBACK)
        with wave.open(wav, "rb") as w:
            declared = w.getnframes() * 2
        self.assertLessEqual(declared, os.path.getsize(wav) - 44)
        self.assertGreaterEqual(declared, len(streamed) - SECOND - 2 * 1280)
        # The last blocks declared may have died on their way to the engine.
        self.assertIn(wav_data(wav)[2][-6400 - 2 * 1280:-2 * 1280], streamed)
        folder = self.folder("server-killed")[0]
        with self.host() as host:
            self.assertTrue(wait_for(lambda: default_sink(self.pulse) == "Speakers", timeout=30))
            session = self.session(host)
            self.start(session, folder)
            self.wait_blocks(session, 50)
            self.pulse.process.kill()
            self.pulse.process.wait()
            summary = session.call("stopRecorder", timeout=60)
            self.assertEqual(summary["success"], 0)
            self.assertIsNone(host.process.poll())
            self.assert_files_match(folder, summary, b"".join(session.pcm))

            # The server comes back still sending everything to the loopback device: the host
            # puts the user's output back without being asked and records again on it.
            self.pulse = self.enterContext(PulseServer(self.pulse.dir, default_sink=LOOPBACK))
            self.assertTrue(wait_for(lambda: default_sink(self.pulse) == "Speakers", timeout=60))
            self.start(session, folder, mic=False)
            self.stop(session)


if __name__ == "__main__":
    unittest.main()
