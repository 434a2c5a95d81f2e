"""The computer's own sound during a recording, on PulseAudio and on
PipeWire's pulse server: what the user hears (level, gaps), where the system
audio sits against the microphone in recording.wav, the user's devices put
back exactly, and the loopback device made when it is missing.

Timing checks leave room for a loaded machine while still failing for the
faults they guard against (system audio 670 ms early, half a second of
silence at the switch, a fixed 160 ms pairing offset, missing time counted
twice); the goals themselves are measured by bench/system_audio.py."""

import os
import tempfile
import time
import unittest

from engine_session import EngineSession
from harness import SANITIZER, SOURCE_DIR, Host, wait_for
from pipewire_server import PipeWireServer
from pulse_server import PulseServer
from recording_analysis import wav_samples
from system_audio_probe import BurstPlayer, MonitorTap, TonePlayer, alignment_offsets, db, longest_silence, rms
from test_recording import LOOPBACK, default_sink, sink_volume_percent, start_args

# Under a sanitizer the host runs several times slower: the sanitizer run
# looks for memory and thread faults, and the timing checks stay with the
# normal build.
TIMED = not SANITIZER
DROP_INS = os.path.join(SOURCE_DIR, "resources")


class SystemAudioTest(unittest.TestCase):
    SERVER = PulseServer

    def start_server(self, **kwargs):
        server = self.SERVER(**kwargs)
        self.addCleanup(server.stop)
        return server.start()

    def test_the_shipped_drop_in_gives_the_device_when_the_server_starts(self):
        form = "VerdalisRecorder.conf" if self.SERVER is PipeWireServer else "VerdalisRecorder.pa"
        server = self.start_server(loopback=False, drop_in=os.path.join(DROP_INS, form))
        self.assertTrue(wait_for(lambda: LOOPBACK in server.pactl("list", "short", "sinks"), 15))

    def test_one_host_through_recordings_of_the_system_audio(self):
        """One server and one host, a fresh recording for each check."""
        server = self.start_server()
        self.folder = os.path.join(server.dir, "rec")
        self.wav = os.path.join(self.folder, "recording.wav")
        os.makedirs(self.folder)
        root = tempfile.mkdtemp(prefix="quillon-root-")
        env = dict(server.env(), HOME=tempfile.mkdtemp(prefix="quillon-home-"))
        with Host(env=env, args=("--loopback-root", root)) as host:
            session = EngineSession(host.socket)
            self.addCleanup(session.close)
            self.assertIs(session.call("init", {"blackHolePath": "/nonexistent", "reserveStageAudio": False}), True)
            # The user's volume reaches the recording too: 100 % while it lines up.
            self.check_alignment_and_duration(server, session)
            self.check_what_the_user_hears(server, session)
            self.check_volume_zero_and_mute_put_back(server, session)
            self.check_missing_device_installed_and_loaded(server, session, root)
        self.assertEqual(default_sink(server), "Speakers")

    def check_what_the_user_hears(self, server, session):
        """The level and no gap at the switch, either way."""
        server.pactl("set-sink-volume", "Speakers", "50%")
        server.pactl("set-sink-mute", "Speakers", "1")
        server.pactl("set-sink-mute", "Speakers", "0")
        tone = TonePlayer(server)
        tap = MonitorTap(server, "Speakers")
        # An idle sink's monitor starts delivering only after its first block.
        wait_for(lambda: len(tap.samples()) > 24000, 15)
        before = len(tap.samples())
        self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
        started = len(tap.samples())
        time.sleep(2.5)
        self.assertEqual(default_sink(server), LOOPBACK)
        self.assertEqual(session.call("stopRecorder")["success"], 0)
        stopped = len(tap.samples())
        time.sleep(1.0)
        heard = tap.stop()
        tone.stop()
        self.assertEqual(default_sink(server), "Speakers")
        # The loopback device took the user's volume while recording and has its own back.
        self.assertEqual((sink_volume_percent(server, "Speakers"), sink_volume_percent(server, LOOPBACK)), (50, 100))

        level_before = rms(heard[max(0, before - 16000):before])
        level_during = rms(heard[started + 16000:started + 32000])
        self.assertGreater(level_before, 0.01)
        if TIMED:
            self.assertLess(abs(db(level_during / level_before)), 1.0, (level_before, level_during))
            self.assertLess(longest_silence(heard[max(0, before - 8000):started + 16000]), 0.25)
            self.assertLess(longest_silence(heard[stopped - 16000:stopped + 12000]), 0.25)

    def check_alignment_and_duration(self, server, session):
        """Microphone and system audio line up; the file lasts as long as the recording."""
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

    def check_volume_zero_and_mute_put_back(self, server, session):
        server.pactl("set-sink-volume", "Speakers", "0%")
        server.pactl("set-sink-volume", LOOPBACK, "37%")
        server.pactl("set-sink-mute", LOOPBACK, "1")
        self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
        time.sleep(0.5)
        self.assertEqual(session.call("stopRecorder")["success"], 0)
        self.assertEqual(sink_volume_percent(server, "Speakers"), 0)
        self.assertEqual(sink_volume_percent(server, LOOPBACK), 37)
        self.assertIn("yes", server.pactl("get-sink-mute", LOOPBACK))
        self.assertEqual(default_sink(server), "Speakers")

    def check_missing_device_installed_and_loaded(self, server, session, root):
        """A missing loopback device is installed and loaded without restarting the server."""
        if os.geteuid() != 0:
            return  # the drop-in is copied without a prompt only as root
        pid = server.process.pid

        def unload():
            index = [line.split()[0] for line in server.pactl("list", "short", "modules").splitlines()
                     if "sink_name=VerdalisRecorder" in line][0]
            server.pactl("unload-module", index)
            self.assertTrue(wait_for(lambda: LOOPBACK not in server.pactl("list", "short", "sinks")))
        unload()
        source = os.path.join(DROP_INS, "VerdalisRecorder.pa")
        self.assertIs(session.call("init", {"blackHolePath": source, "reserveStageAudio": False}), True)
        self.assertIn(LOOPBACK, server.pactl("list", "short", "sinks"))
        bundle = root + ("/etc/pipewire/pipewire-pulse.conf.d/VerdalisRecorder.conf" if self.SERVER is PipeWireServer
                         else "/etc/pulse/default.pa.d/VerdalisRecorder.pa")
        with open(bundle) as f:
            self.assertIn("module-null-sink sink_name=VerdalisRecorder", f.read())
        self.assertEqual((server.process.poll(), server.process.pid), (None, pid))
        # The device gone (a server restart that did not read the drop-in):
        # the next recording loads the installed drop-in again, no prompt.
        unload()
        self.assertIs(session.call("startRecorder", start_args(self.folder, mic=False)), True)
        self.assertEqual(default_sink(server), LOOPBACK)
        self.assertEqual(session.call("stopRecorder")["success"], 0)


class PipeWireSystemAudioTest(SystemAudioTest):
    SERVER = PipeWireServer


if __name__ == "__main__":
    unittest.main()
