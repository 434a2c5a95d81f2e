"""Recordings that meet a fault: the sound server dies, the engine goes away,
the host is killed, the disk fills up. Each ends with files that open and
hold every block the engine was sent."""

import os
import resource
import struct
import subprocess
import time
import unittest

from engine_session import EngineError, EngineSession
from harness import HOST, Host, wait_for
from pulse_server import PulseServer
from recording_analysis import opus_records, wav_data
from test_recording import LOOPBACK, Sounds, default_sink, start_args

INIT = {"blackHolePath": "/nonexistent/VerdalisRecorder.pa", "reserveStageAudio": False}
SECOND = 32000  # bytes of 16 kHz mono 16-bit audio


def wav_header_sizes(path):
    """(RIFF size, data size) as the header declares them."""
    with open(path, "rb") as f:
        header = f.read(44)
    return struct.unpack("<I", header[4:8])[0], struct.unpack("<I", header[40:44])[0]


class PulseServerWithOutputLeftOnLoopback(PulseServer):
    """The same server started again, remembering (as a desktop server's
    device-restore module would) the loopback device as its default output."""

    def _script(self):
        return super()._script().replace("set-default-sink Speakers", "set-default-sink " + LOOPBACK)


class LimitedHost(Host):
    """A host whose files may not grow beyond `limit` bytes (a full disk). The
    signal for an oversized write keeps its default action: the host itself
    must not die of it."""

    def __init__(self, limit, **kwargs):
        super().__init__(**kwargs)
        self.limit = limit

    def __enter__(self):
        self._stderr = open(self.stderr_path, "wb")
        limit = self.limit
        self.process = subprocess.Popen(
            [HOST, "--headless", "--engine-socket", self.socket], stdout=subprocess.DEVNULL,
            stderr=self._stderr, env=self.env,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        if not wait_for(lambda: os.path.exists(self.socket) or self.process.poll() is not None):
            raise RuntimeError("quillon-host did not create its socket")
        if self.process.poll() is not None:
            raise RuntimeError("quillon-host exited (%d): %s" % (self.process.returncode, self.stderr()))
        return self


class RecordingFaultTest(unittest.TestCase):
    def setUp(self):
        self.pulse = PulseServer().start()
        self.addCleanup(self.pulse.stop)
        self.home = os.path.join(self.pulse.dir, "home")
        os.makedirs(self.home)
        self.folder = os.path.join(self.pulse.dir, "rec")
        os.makedirs(self.folder)
        self.wav = os.path.join(self.folder, "recording.wav")
        self.opus = os.path.join(self.folder, "recording.opus")
        sounds = Sounds(self.pulse, seconds=120).start()
        self.addCleanup(sounds.stop)

    def host(self):
        return Host(env=dict(self.pulse.env(), HOME=self.home))

    def session(self, host, init=True):
        session = EngineSession(host.socket)
        self.addCleanup(session.close)
        if init:
            self.assertIs(session.call("init", INIT), True)
        return session

    def assert_valid_files(self, summary, streamed):
        """The WAV's header describes exactly the bytes on disk, every block
        the engine got is in it, and the Opus file is whole records."""
        size = os.path.getsize(self.wav)
        riff, data_size = wav_header_sizes(self.wav)
        self.assertEqual((riff, data_size), (size - 8, size - 44))
        self.assertEqual(summary["size"], size)
        self.assertEqual(summary["duration"], data_size // SECOND * 1000)
        data = wav_data(self.wav)
        self.assertGreater(len(streamed), 0)
        self.assertEqual(streamed, data[len(data) - len(streamed):])
        self.assertGreater(len(opus_records(self.opus)), 0)

    def test_sound_server_killed_mid_recording(self):
        with self.host() as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(self.folder)), True)
            self.assertEqual(default_sink(self.pulse), LOOPBACK)
            self.assertTrue(session.wait_for_pcm(50, timeout=60))
            self.pulse.process.kill()
            self.pulse.process.wait()

            summary = session.call("stopRecorder", timeout=60)
            self.assertEqual(summary["success"], 0)
            self.assertIsNone(host.process.poll())
            self.assert_valid_files(summary, b"".join(session.pcm))

            # The server comes back still sending everything to the loopback
            # device; the host puts the user's output back without being asked.
            revived = PulseServerWithOutputLeftOnLoopback()
            revived.dir, revived.socket, revived.mic_fifo = self.pulse.dir, self.pulse.socket, self.pulse.mic_fifo
            revived.start()
            self.addCleanup(revived.stop)
            self.assertEqual(revived.pactl("get-default-sink").strip(), LOOPBACK)
            self.assertTrue(wait_for(lambda: default_sink(revived) == "Speakers", timeout=60))

            # And records again on it.
            self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
            self.assertEqual(session.call("stopRecorder")["success"], 0)
            self.assertEqual(default_sink(revived), "Speakers")

    def test_engine_leaving_mid_recording_does_not_stop_it(self):
        with self.host() as host:
            first = self.session(host)
            self.assertIs(first.call("startRecorder", start_args(self.folder)), True)
            self.assertTrue(first.wait_for_pcm(25, timeout=60))
            first.close()
            # The file keeps growing with nobody listening.
            grown = os.path.getsize(self.wav) + 2 * SECOND
            self.assertTrue(wait_for(lambda: os.path.getsize(self.wav) >= grown, timeout=60))

            second = self.session(host, init=False)
            self.assertTrue(second.wait_for_pcm(10, timeout=60))
            summary = second.call("stopRecorder")
            self.assertEqual(summary["success"], 0)
            self.assertGreaterEqual(summary["size"], grown)
            self.assert_valid_files(summary, b"".join(second.pcm))
            self.assertEqual(default_sink(self.pulse), "Speakers")

    def test_host_killed_mid_recording_leaves_a_playable_wav(self):
        with self.host() as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(self.folder)), True)
            self.assertTrue(session.wait_for_pcm(100, timeout=60))
            host.process.kill()
            host.process.wait()
            # Everything sent before the kill is read before the end of stream.
            self.assertTrue(wait_for(lambda: session.closed, timeout=30))
            streamed = b"".join(session.pcm)
        self.assertEqual(default_sink(self.pulse), LOOPBACK)

        # Playable: the header promises no more than is there, and misses at
        # most the last second (plus the block in flight) of what was sent.
        riff, declared = wav_header_sizes(self.wav)
        self.assertEqual(riff, declared + 36)
        self.assertLessEqual(declared, os.path.getsize(self.wav) - 44)
        self.assertGreaterEqual(declared, len(streamed) - SECOND - 2 * 1280)
        data = wav_data(self.wav)
        self.assertEqual(len(data), declared)
        # The last blocks declared may have died on their way to the engine.
        self.assertIn(data[-6400 - 2 * 1280:-2 * 1280], streamed)

        with self.host():
            self.assertTrue(wait_for(lambda: default_sink(self.pulse) == "Speakers", timeout=30))

    def test_full_disk_while_writing_the_wav(self):
        limit = 6 * SECOND + 1000
        with LimitedHost(limit, env=dict(self.pulse.env(), HOME=self.home)) as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(self.folder)), True)
            # The engine keeps getting audio well after the file stopped growing.
            self.assertTrue(session.wait_for_pcm_bytes(limit + 2 * SECOND, timeout=90))
            summary = session.call("stopRecorder")
            self.assertIsNone(host.process.poll(), host.stderr())
            streamed = b"".join(session.pcm)

        # The summary does not claim success, but tells what the file holds.
        self.assertNotEqual(summary["success"], 0)
        size = os.path.getsize(self.wav)
        self.assertLessEqual(size, limit)
        self.assertEqual(summary["size"], size)
        riff, declared = wav_header_sizes(self.wav)
        self.assertEqual((riff, declared), (size - 8, size - 44))
        self.assertEqual(summary["duration"], declared // SECOND * 1000)
        # What made it to disk is the audio the engine heard at that time.
        data = wav_data(self.wav)
        self.assertGreater(len(data), 4 * SECOND)
        self.assertIn(data[-6400:], streamed)


if __name__ == "__main__":
    unittest.main()
