"""End-to-end recordings: a real quillon-host against a private PulseAudio
(and PipeWire) whose microphone hears tone A (440 Hz) while tone B (1000 Hz)
plays through the system output."""

import json
import os
import re
import shutil
import signal
import struct
import subprocess
import threading
import time
import unittest
import wave

from engine_session import EngineSession
from harness import ENGINE, Host, wait_for
from pipewire_server import PipeWireServer
from pulse_server import PulseServer
from recording_analysis import decode_opus_file, int16, opus_records, sine_pcm, tone_level, wav_data, wav_samples
from system_audio_probe import MonitorTap, TonePlayer

LOOPBACK = "VerdalisRecorder"
TONE_A, LEVEL_A = 440, 0.5
TONE_B, LEVEL_B = 1000, 0.3
SECOND = 32000  # bytes of 16 kHz mono 16-bit audio
STAGE_FORMATS = {"mic_original.wav": (48000, 1), "mic.wav": (16000, 1),
                 "speaker_original.wav": (44100, 2), "speaker.wav": (16000, 1)}


class Sounds:
    """Tone A into the microphone and, once asked, tone B into the default
    output (the loopback device by then), until stopped."""

    def __init__(self, pulse, seconds=60):
        self.pulse, self.seconds, self.player = pulse, seconds, None
        self.mic = threading.Thread(target=self._feed_microphone, daemon=True)

    def _feed_microphone(self):
        try:
            self.pulse.feed_microphone(sine_pcm(TONE_A, self.pulse.mic_rate, self.seconds, LEVEL_A))
        except OSError:
            pass  # the server went away at the end of the test

    def start(self):
        self.mic.start()
        return self

    def play_tone_b(self):
        self.player = TonePlayer(self.pulse, TONE_B, LEVEL_B, self.seconds, latency_ms=100, rate=48000)

    def stop(self):
        if self.player:
            self.player.stop()


def default_sink(pulse):
    return pulse.pactl("get-default-sink").strip()


def sink_volume_percent(pulse, sink):
    return int(pulse.pactl("get-sink-volume", sink).split("/")[1].strip().rstrip("%"))


def start_args(folder, mic=True):
    return {"recorderMic": mic, "recorderPath": folder, "wavFilePath": os.path.join(folder, "recording.wav"),
            "opusFilePath": os.path.join(folder, "recording.opus")}


def settle(session, quiet=0.7):
    """Waits (15 s at most) until no message has arrived for `quiet` seconds."""
    last = [session.counts(), time.monotonic()]

    def quiet_now():
        if session.counts() != last[0]:
            last[:] = [session.counts(), time.monotonic()]
        return time.monotonic() - last[1] >= quiet
    wait_for(quiet_now, 15, interval=0.1)


def wav_header_sizes(path):
    """(RIFF size, data size) as the header declares them."""
    with open(path, "rb") as f:
        header = f.read(44)
    return struct.unpack("<I", header[4:8])[0], struct.unpack("<I", header[40:44])[0]


class RecordingCase(unittest.TestCase):
    """A private sound server whose microphone hears tone A."""
    SOUND_SECONDS = 120
    SERVER = PulseServer

    def setUp(self):
        self.pulse = self.SERVER()
        self.addCleanup(shutil.rmtree, self.pulse.dir, ignore_errors=True)
        self.addCleanup(self.pulse.stop)
        self.pulse.start()
        self.home = os.path.join(self.pulse.dir, "home")
        os.makedirs(self.home)
        self.sounds = Sounds(self.pulse, self.SOUND_SECONDS).start()
        self.addCleanup(self.sounds.stop)

    def folder(self, name):
        """A recording folder of that name; answers its path and its WAV file's."""
        folder = os.path.join(self.pulse.dir, name)
        os.makedirs(folder)
        return folder, os.path.join(folder, "recording.wav")

    def host(self, **kwargs):
        return Host(env=dict(self.pulse.env(), HOME=self.home), **kwargs)

    def session(self, host, stage=False, init=True):
        session = EngineSession(host.socket)
        self.addCleanup(session.close)
        if init:
            args = {"blackHolePath": "/nonexistent/VerdalisRecorder.pa", "reserveStageAudio": stage}
            self.assertIs(session.call("init", args), True)
        return session

    def assert_files_match(self, folder, summary, streamed=None):
        """The WAV's header describes exactly the bytes on disk, as does the
        summary; every block the engine got (if given) is its tail; the Opus
        file is whole records."""
        wav = os.path.join(folder, "recording.wav")
        size = os.path.getsize(wav)
        riff, data_size = wav_header_sizes(wav)
        self.assertEqual((riff, data_size), (size - 8, size - 44))
        self.assertEqual(summary["size"], size)
        self.assertEqual(summary["duration"], data_size // SECOND * 1000)
        self.assertGreater(len(opus_records(os.path.join(folder, "recording.opus"))), 0)
        if streamed is not None:
            data = wav_data(wav)
            self.assertGreater(len(streamed), 0)
            self.assertEqual(streamed, data[len(data) - len(streamed):])


class RecordingTest(RecordingCase):
    """One host serves every recording, each on a fresh engine connection."""

    def test_recordings_through_the_engine_link_and_the_record_command(self):
        with self.host() as host:
            self.check_mixed_recording(host)
            self.check_record_command(host)
            self.check_switching_pause_resume_and_what_finishes_a_recording(host)

    def check_mixed_recording(self, host):
        """What reaches the files and the engine, while the user still hears it."""
        folder, wav = self.folder("mixed")
        session = self.session(host, stage=True)
        self.assertIs(session.call("startRecorder", start_args(folder)), True)
        self.assertEqual(default_sink(self.pulse), LOOPBACK)
        self.sounds.play_tone_b()
        tap = MonitorTap(self.pulse, "Speakers")
        # Six seconds of audio reach the engine (blocks of 40 ms).
        self.assertTrue(wait_for(lambda: session.counts()[0] >= 150, timeout=60))
        heard = tap.stop()
        summary = session.call("stopRecorder")
        settle(session)
        session.close()
        self.assertEqual(default_sink(self.pulse), "Speakers")

        self.assertEqual(summary["success"], 0)
        # The engine got 1280-byte blocks equal to the file from the moment
        # the callbacks were set, and the very packets of the Opus file.
        self.assert_files_match(folder, summary, b"".join(session.pcm))
        self.assertTrue(all(len(block) == 1280 for block in session.pcm))
        rate, channels, samples = wav_samples(wav)
        self.assertEqual((rate, channels), (16000, 1))
        tail = samples[-40000:]  # the last 2.5 s: both tones are on by then
        self.assertAlmostEqual(tone_level(tail, TONE_A, rate), 0.6 * LEVEL_A, delta=0.03)
        self.assertAlmostEqual(tone_level(tail, TONE_B, rate), 0.4 * LEVEL_B, delta=0.03)
        records = opus_records(os.path.join(folder, "recording.opus"))
        self.assertGreater(len(session.opus), 0)
        self.assertEqual(session.opus, records[len(records) - len(session.opus):])
        self.assertEqual(len(records), len(samples) // 640)
        decoded = decode_opus_file(os.path.join(folder, "recording.opus"))
        self.assertEqual(len(decoded), len(records) * 640)
        for tone in (TONE_A, TONE_B):
            self.assertAlmostEqual(tone_level(decoded[-40000:], tone, 16000), tone_level(tail, tone, rate), delta=0.03)
        # The pass-through player kept tone B audible on the user's sink.
        self.assertGreater(tone_level(heard[-16000:], TONE_B, 16000, scale=1.0), 0.05)
        for name, expected in STAGE_FORMATS.items():
            with wave.open(os.path.join(folder, name), "rb") as w:
                self.assertEqual((w.getframerate(), w.getnchannels(), w.getsampwidth()), expected + (2,), name)
                self.assertGreater(w.getnframes(), 0, name)

    def check_record_command(self, host):
        """quillon-engine record stops on Ctrl-C and prints the summary and the files."""
        folder = os.path.join(self.pulse.dir, "cli")
        wav = os.path.join(folder, "recording.wav")
        recorder = subprocess.Popen([ENGINE, "--socket", host.socket, "record", "--dir", folder, "--no-mic", "--stage"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=host.env)
        # Once the data has grown past a second, the recording runs.
        self.assertTrue(wait_for(lambda: os.path.exists(wav) and os.path.getsize(wav) > SECOND + 44,
                                 timeout=60, interval=0.1))
        self.assertEqual(default_sink(self.pulse), LOOPBACK)
        recorder.send_signal(signal.SIGINT)
        out, err = recorder.communicate(timeout=60)
        self.assertEqual(recorder.returncode, 0, err)
        self.assertEqual(default_sink(self.pulse), "Speakers")

        summary = json.loads(re.search(r"^stopRecorder: (\{.*\})$", out, re.M).group(1))
        self.assertEqual((summary["success"], summary["size"]), (0, os.path.getsize(wav)))
        received = int(re.search(r"^received: \d+ PCM blocks \((\d+) bytes\)", out, re.M).group(1))
        self.assertGreater(received, 0)
        self.assertLessEqual(received, len(wav_data(wav)))
        self.assertIn("wav:  " + wav, out)
        self.assertIn("opus: " + os.path.join(folder, "recording.opus"), out)
        for name in STAGE_FORMATS:
            self.assertIn("stage: " + os.path.join(folder, name), out)
        # Not a terminal: one progress line per second, each with the packet count.
        self.assertRegex(out, r"(?m)^00:0\d  \[[#-]{30}\] +-?\d+\.\d dBFS  opus packets: \d+$")

    def check_switching_pause_resume_and_what_finishes_a_recording(self, host):
        folder, wav = self.folder("switching")
        session = self.session(host)
        self.pulse.pactl("set-sink-volume", "Speakers", "60%")

        def last_second():
            return int16(b"".join(session.pcm)[-SECOND:])

        def more_bytes():
            # Blocks of 40 ms while the microphone takes part, of the system
            # audio's own size while it does not: wait for 1.5 s of bytes.
            target = session.pcm_bytes() + 48000
            self.assertTrue(wait_for(lambda: session.pcm_bytes() >= target, timeout=60))

        self.assertIs(session.call("checkMicActive"), True)
        self.assertIs(session.call("startRecorder", start_args(folder, mic=False)), True)
        # Tone B reaches the stream once the application's sound flows
        # through the loopback device; poll rather than count blocks.
        self.assertTrue(wait_for(lambda: len(session.pcm) >= 75
                                 and tone_level(last_second(), TONE_B, 16000) > 0.05, timeout=60))
        self.assertLess(tone_level(last_second(), TONE_A, 16000), 0.01)
        self.assertIs(session.call("switchMicRecorder", {"recorderMic": True}), True)
        more_bytes()
        self.assertAlmostEqual(tone_level(last_second(), TONE_A, 16000), 0.6 * LEVEL_A, delta=0.05)
        self.assertIs(session.call("switchMicRecorder", {"recorderMic": False}), True)
        more_bytes()
        self.assertLess(tone_level(last_second(), TONE_A, 16000), 0.01)

        self.assertIs(session.call("pauseRecorder"), True)
        settle(session)
        paused_count = session.counts()
        time.sleep(1.0)
        self.assertEqual(session.counts(), paused_count)
        self.assertIs(session.call("resumeRecorder"), True)
        self.assertTrue(wait_for(lambda: session.counts()[0] >= paused_count[0] + 10, timeout=60))

        # An init finishes the running recording (as a new start does, shown
        # by the facade's unit test).
        self.assertIs(session.call("init", {"blackHolePath": "/nonexistent", "reserveStageAudio": False}), True)
        self.assertEqual(default_sink(self.pulse), "Speakers")
        samples = wav_samples(wav)[2]
        self.assertGreater(len(samples), 0)
        self.assertEqual(len(samples) * 2 + 44, os.path.getsize(wav))
        self.assertEqual(session.call("stopRecorder"), {"success": -1, "duration": 0, "size": 0})
        self.assertEqual(sink_volume_percent(self.pulse, "Speakers"), 60)
        if self.SERVER is PulseServer:
            # A default source that is a sink's monitor is the computer's
            # own sound, not a microphone.
            self.pulse.pactl("set-default-source", "Speakers.monitor")
            self.assertIs(session.call("checkMicActive"), False)


@unittest.skipIf(os.environ.get("QUILLON_SANITIZE") == "address,undefined",
                 "AddressSanitizer's load starves PipeWire's real-time graph; the normal build and "
                 "ThreadSanitizer run these")
class PipeWireRecordingTest(RecordingTest):
    """The same recordings through PipeWire's pulse server."""
    SERVER = PipeWireServer


if __name__ == "__main__":
    unittest.main()
