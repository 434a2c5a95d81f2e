"""The computer's own sound during a recording, on PulseAudio and on
PipeWire's pulse server: the loopback device made when it is missing, what
the user hears (level, gaps), where the system audio sits against the
microphone in recording.wav, and the user's devices put back exactly.

Timing checks leave room for a loaded machine while still failing for the
faults they guard against (system audio 670 ms early, half a second of
silence at the switch, a fixed 160 ms pairing offset, missing time counted
twice); the goals themselves are measured by bench/system_audio.py."""

import os
import statistics
import tempfile
import time
import unittest

from engine_session import EngineSession
from harness import SANITIZER, Host, wait_for
from pipewire_server import PipeWireServer
from pulse_server import PulseServer
from recording_analysis import wav_samples
from system_audio_probe import (BurstPlayer, MonitorTap, TonePlayer, alignment_offsets, db,
                                longest_silence, rms)
from test_recording import LOOPBACK, default_sink, sink_volume_percent, start_args

# Under a sanitizer the host runs several times slower: the sanitizer run
# looks for memory and thread faults, and the timing checks stay with the
# normal build.
TIMED = not SANITIZER
SOURCE = os.path.join(os.environ.get("QUILLON_SOURCE_DIR", "../.."), "resources", "VerdalisRecorder.pa")


class SystemAudioCase(unittest.TestCase):
    SERVER = PulseServer

    def start_server(self, **kwargs):
        server = self.SERVER(**kwargs)
        self.addCleanup(server.stop)
        server.start()
        self.folder = os.path.join(server.dir, "rec")
        os.makedirs(self.folder, exist_ok=True)
        self.wav = os.path.join(self.folder, "recording.wav")
        return server

    def host(self, server, *args):
        home = tempfile.mkdtemp(prefix="quillon-home-")
        return Host(env=dict(server.env(), HOME=home), args=args)

    def session(self, host, driver="/nonexistent/VerdalisRecorder.pa"):
        session = EngineSession(host.socket)
        self.addCleanup(session.close)
        self.assertIs(session.call("init", {"blackHolePath": driver, "reserveStageAudio": False}), True)
        return session


class SystemAudioTest(SystemAudioCase):
    def test_a_missing_loopback_device_is_installed_and_loaded_without_restarting_the_server(self):
        if os.geteuid() != 0:
            self.skipTest("the drop-in is copied without a prompt only as root")
        server = self.start_server(loopback=False)
        pid = server.process.pid
        root = tempfile.mkdtemp(prefix="quillon-root-")
        pipewire = self.SERVER is PipeWireServer
        bundle = root + ("/etc/pipewire/pipewire-pulse.conf.d/VerdalisRecorder.conf" if pipewire
                         else "/etc/pulse/default.pa.d/VerdalisRecorder.pa")
        with self.host(server, "--loopback-root", root) as host:
            session = self.session(host, driver=SOURCE)
            self.assertIn(LOOPBACK, server.pactl("list", "short", "sinks"))
            with open(bundle) as f:
                self.assertIn("module-null-sink sink_name=VerdalisRecorder", f.read())
            self.assertIsNone(server.process.poll())
            self.assertEqual(server.process.pid, pid)

            # The device gone (a server restart that did not read the drop-in):
            # the next recording loads the installed drop-in again, no prompt.
            index = [line.split()[0] for line in server.pactl("list", "short", "modules").splitlines()
                     if "sink_name=VerdalisRecorder" in line][0]
            server.pactl("unload-module", index)
            self.assertTrue(wait_for(lambda: LOOPBACK not in server.pactl("list", "short", "sinks")))
            self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
            self.assertEqual(default_sink(server), LOOPBACK)
            self.assertEqual(session.call("stopRecorder")["success"], 0)
        self.assertEqual(default_sink(server), "Speakers")

    def test_the_shipped_drop_in_gives_the_device_when_the_server_starts(self):
        form = "VerdalisRecorder.conf" if self.SERVER is PipeWireServer else "VerdalisRecorder.pa"
        server = self.start_server(loopback=False, drop_in=os.path.join(os.path.dirname(SOURCE), form))
        self.assertTrue(wait_for(lambda: LOOPBACK in server.pactl("list", "short", "sinks"), 15))

    def test_what_the_user_hears_keeps_its_level_and_has_no_gap(self):
        server = self.start_server()
        server.pactl("set-sink-volume", "Speakers", "50%")
        server.pactl("set-sink-mute", "Speakers", "1")
        server.pactl("set-sink-mute", "Speakers", "0")
        tone = TonePlayer(server)
        self.addCleanup(tone.stop)
        tap = MonitorTap(server, "Speakers")
        # An idle sink's monitor starts delivering only after its first block.
        wait_for(lambda: len(tap.samples()) > 24000, 15)
        with self.host(server) as host:
            session = self.session(host)
            before = len(tap.samples())
            self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
            started = len(tap.samples())
            time.sleep(2.5)
            self.assertEqual(default_sink(server), LOOPBACK)
            self.assertEqual(session.call("stopRecorder")["success"], 0)
            stopped = len(tap.samples())
            time.sleep(1.0)
        heard = tap.stop()
        self.assertEqual(default_sink(server), "Speakers")
        self.assertEqual(sink_volume_percent(server, "Speakers"), 50)

        level_before = rms(heard[max(0, before - 16000):before])
        level_during = rms(heard[started + 16000:started + 32000])
        self.assertGreater(level_before, 0.01)
        if not TIMED:
            return
        self.assertLess(abs(db(level_during / level_before)), 1.0, (level_before, level_during))
        around_start = heard[max(0, before - 8000):started + 16000]
        around_stop = heard[stopped - 16000:stopped + 12000]
        self.assertLess(longest_silence(around_start), 0.25)
        self.assertLess(longest_silence(around_stop), 0.25)

    def test_microphone_and_system_audio_line_up_and_the_file_lasts_as_long_as_the_recording(self):
        server = self.start_server()
        with self.host(server) as host:
            session = self.session(host)
            # The recording's time runs from the engine's request.
            began = time.monotonic()
            self.assertIs(session.call("startRecorder", start_args(self.folder)), True)
            # Started once the output is switched, so the player's stream is
            # not moved between devices while it plays; its first burst comes
            # after the second in which each stream's timing settles.
            bursts = BurstPlayer(server, seconds=10, lead=0.5).start()
            self.addCleanup(bursts.stop)
            time.sleep(9.0)
            ended = time.monotonic()
            self.assertEqual(session.call("stopRecorder")["success"], 0)
        rate, _, samples = wav_samples(self.wav)
        if not TIMED:
            return
        self.assertLess(abs(len(samples) / rate - (ended - began)), 0.4)
        # A burst at time t of the recording was played at t - lag by the player.
        lag = bursts.started - began
        offsets = alignment_offsets([v / 32768.0 for v in samples], lambda t: bursts.injection_ms_at(t - lag))
        self.assertGreaterEqual(len(offsets), 4, offsets)
        self.assertLess(max(abs(o) for o in offsets), 100.0, offsets)

    def test_volume_zero_and_mute_are_put_back_exactly(self):
        server = self.start_server()
        server.pactl("set-sink-volume", "Speakers", "0%")
        server.pactl("set-sink-volume", LOOPBACK, "37%")
        server.pactl("set-sink-mute", LOOPBACK, "1")
        with self.host(server) as host:
            session = self.session(host)
            self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
            time.sleep(0.5)
            self.assertEqual(session.call("stopRecorder")["success"], 0)
        self.assertEqual(sink_volume_percent(server, "Speakers"), 0)
        self.assertEqual(sink_volume_percent(server, LOOPBACK), 37)
        self.assertIn("yes", server.pactl("get-sink-mute", LOOPBACK))
        self.assertEqual(default_sink(server), "Speakers")


class PipeWireSystemAudioTest(SystemAudioTest):
    SERVER = PipeWireServer


if __name__ == "__main__":
    unittest.main()
