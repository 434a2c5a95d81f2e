"""Recordings that meet a fault, one after another on one sound server: the
engine goes away, the disk fills up, the host is killed, the sound server
dies. Each ends with files that open and hold every block the engine was
sent, or, for a killed host, all but the last second."""

import os
import unittest

from harness import wait_for
from pulse_server import PulseServer
from recording_analysis import wav_data
from test_recording import LOOPBACK, SECOND, RecordingCase, default_sink, start_args, wav_header_sizes


class RecordingFaultTest(RecordingCase):
    def test_recordings_survive_the_engine_leaving_a_full_disk_and_killed_processes(self):
        self.check_engine_leaving()
        self.check_full_disk()
        self.check_host_killed()
        self.check_server_killed()

    def check_engine_leaving(self):
        """The engine leaving mid-recording does not stop it."""
        folder, wav = self.folder("engine-left")
        with self.host() as host:
            first = self.session(host)
            self.assertIs(first.call("startRecorder", start_args(folder)), True)
            self.assertTrue(wait_for(lambda: first.counts()[0] >= 25, timeout=60))
            first.close()
            # The file keeps growing with nobody listening.
            grown = os.path.getsize(wav) + 2 * SECOND
            self.assertTrue(wait_for(lambda: os.path.getsize(wav) >= grown, timeout=60))
            second = self.session(host, init=False)
            self.assertTrue(wait_for(lambda: second.counts()[0] >= 10, timeout=60))
            summary = second.call("stopRecorder")
            self.assertEqual(summary["success"], 0)
            self.assertGreaterEqual(summary["size"], grown)
            self.assert_files_match(folder, summary, b"".join(second.pcm))
            self.assertEqual(default_sink(self.pulse), "Speakers")

    def check_full_disk(self):
        folder, wav = self.folder("full")
        limit = 6 * SECOND + 1000
        # The signal for an oversized write keeps its default action: the host
        # itself must not die of it.
        with self.host(file_limit=limit) as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(folder)), True)
            # The engine keeps getting audio well after the file stopped growing.
            self.assertTrue(wait_for(lambda: session.pcm_bytes() >= limit + 2 * SECOND, timeout=90))
            summary = session.call("stopRecorder")
            self.assertIsNone(host.process.poll(), host.stderr())
            streamed = b"".join(session.pcm)
        # The summary does not claim success, but tells what the file holds.
        self.assertNotEqual(summary["success"], 0)
        self.assertLessEqual(os.path.getsize(wav), limit)
        self.assert_files_match(folder, summary)
        # What made it to disk is the audio the engine heard at that time.
        data = wav_data(wav)
        self.assertGreater(len(data), 4 * SECOND)
        self.assertIn(data[-6400:], streamed)

    def check_host_killed(self):
        """A killed host leaves a playable WAV missing at most the last
        second, and the next host puts the user's output back."""
        folder, wav = self.folder("host-killed")
        with self.host() as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(folder)), True)
            self.assertTrue(wait_for(lambda: session.counts()[0] >= 100, timeout=60))
            host.process.kill()
            host.process.wait()
            # Everything sent before the kill is read before the end of stream.
            self.assertTrue(wait_for(lambda: session.closed, timeout=30))
            streamed = b"".join(session.pcm)
        self.assertEqual(default_sink(self.pulse), LOOPBACK)
        riff, declared = wav_header_sizes(wav)
        self.assertEqual(riff, declared + 36)
        self.assertLessEqual(declared, os.path.getsize(wav) - 44)
        self.assertGreaterEqual(declared, len(streamed) - SECOND - 2 * 1280)
        # The last blocks declared may have died on their way to the engine.
        self.assertIn(wav_data(wav)[-6400 - 2 * 1280:-2 * 1280], streamed)
        with self.host():
            self.assertTrue(wait_for(lambda: default_sink(self.pulse) == "Speakers", timeout=30))

    def check_server_killed(self):
        folder, wav = self.folder("server-killed")
        with self.host() as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(folder)), True)
            self.assertEqual(default_sink(self.pulse), LOOPBACK)
            self.assertTrue(wait_for(lambda: session.counts()[0] >= 50, timeout=60))
            self.pulse.process.kill()
            self.pulse.process.wait()
            summary = session.call("stopRecorder", timeout=60)
            self.assertEqual(summary["success"], 0)
            self.assertIsNone(host.process.poll())
            self.assert_files_match(folder, summary, b"".join(session.pcm))

            # The server comes back still sending everything to the loopback
            # device; the host puts the user's output back without being asked.
            revived = PulseServer(self.pulse.dir, default_sink=LOOPBACK).start()
            self.addCleanup(revived.stop)
            self.assertTrue(wait_for(lambda: default_sink(revived) == "Speakers", timeout=60))
            # And records again on it.
            self.assertIs(session.call("startRecorder", start_args(folder, mic=False)), True)
            self.assertEqual(session.call("stopRecorder")["success"], 0)
            self.assertEqual(default_sink(revived), "Speakers")


if __name__ == "__main__":
    unittest.main()
