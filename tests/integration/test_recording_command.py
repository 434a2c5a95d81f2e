"""`quillon-engine record` against a real host and a private PulseAudio."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

from harness import ENGINE, Host, wait_for
from pulse_server import PulseServer
from recording_analysis import wav_data


class RecordCommandTest(unittest.TestCase):
    def test_ctrl_c_stops_the_recording_and_prints_summary_and_files(self):
        work = tempfile.mkdtemp(prefix="quillon-record-")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        folder = os.path.join(work, "rec")
        with PulseServer() as pulse:
            with Host(env=pulse.env()) as host:
                recorder = subprocess.Popen(
                    [ENGINE, "--socket", host.socket, "record", "--dir", folder, "--no-mic", "--stage"],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=pulse.env())
                wav = os.path.join(folder, "recording.wav")
                # Once the data has grown past a second, the recording runs.
                self.assertTrue(wait_for(lambda: os.path.exists(wav) and os.path.getsize(wav) > 32044,
                                         timeout=60, interval=0.1))
                self.assertEqual(pulse.pactl("get-default-sink").strip(), "VerdalisRecorder")
                recorder.send_signal(signal.SIGINT)
                out, err = recorder.communicate(timeout=60)
                self.assertEqual(recorder.returncode, 0, err)
                self.assertEqual(pulse.pactl("get-default-sink").strip(), "Speakers")

        summary = json.loads(re.search(r"^stopRecorder: (\{.*\})$", out, re.M).group(1))
        self.assertEqual(summary["success"], 0)
        self.assertEqual(summary["size"], os.path.getsize(wav))
        received = int(re.search(r"^received: \d+ PCM blocks \((\d+) bytes\)", out, re.M).group(1))
        self.assertGreater(received, 0)
        self.assertLessEqual(received, len(wav_data(wav)))
        self.assertIn("wav:  " + wav, out)
        self.assertIn("opus: " + os.path.join(folder, "recording.opus"), out)
        for name in ("mic_original.wav", "mic.wav", "speaker_original.wav", "speaker.wav"):
            self.assertIn("stage: " + os.path.join(folder, name), out)
        # Not a terminal: one progress line per second, each with the packet count.
        self.assertRegex(out, r"(?m)^00:0\d  \[[#-]{30}\] +-?\d+\.\d dBFS  opus packets: \d+$")

    def test_no_host_is_reported(self):
        work = tempfile.mkdtemp(prefix="quillon-record-")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        folder = os.path.join(work, "never")
        done = subprocess.run([ENGINE, "--socket", os.path.join(work, "none.sock"), "record", "--seconds", "1",
                               "--dir", folder], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 3)
        self.assertIn("quillon-engine:", done.stderr)
        self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    unittest.main()
